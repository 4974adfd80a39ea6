#include "Kestrune/dictation/speech/SpeechEngineSelector.hpp"

#include <utility>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

bool available(const std::shared_ptr<SpeechEngine>& engine, std::string_view locale) {
    return engine && engine->isAvailable(locale);
}

KestruneError unavailable(std::string_view hint) {
    return KestruneError::recognizerUnavailable(localized(hint));
}

constexpr std::string_view kEnglishOnlyHint =
    "The built-in recognizer understands English only. In Settings → Speech, choose the online "
    "recognizer and enter its API key, or the address of your own transcription server.";
constexpr std::string_view kOnlineKeyHint =
    "In Settings → Speech, enter the API key for online transcription, or the address of your own "
    "transcription server.";
constexpr std::string_view kModelPackageHint = "Install the package pocketsphinx-en-us.";
constexpr std::string_view kEnglishModelHint =
    "Install the package pocketsphinx-en-us, or set up online transcription in Settings → Speech.";

}  // namespace

SpeechEngineSelector::SpeechEngineSelector(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

Result<std::shared_ptr<SpeechEngine>, KestruneError> SpeechEngineSelector::recognizerFor(
    AppLanguage language) const {
    const auto locale = rawValue(language);
    const bool builtInServes = available(dependencies_.builtIn, locale);
    const bool onlineServes = available(dependencies_.online, locale);
    switch (dependencies_.preference()) {
        case SpeechEnginePreference::builtIn:
            if (builtInServes) return dependencies_.builtIn;
            return unavailable(language == AppLanguage::english ? kModelPackageHint
                                                                : kEnglishOnlyHint);
        case SpeechEnginePreference::online:
            if (onlineServes) return dependencies_.online;
            return unavailable(kOnlineKeyHint);
        case SpeechEnginePreference::automatic:
            if (language == AppLanguage::english) {
                if (builtInServes) return dependencies_.builtIn;
                if (onlineServes) return dependencies_.online;
                return unavailable(kEnglishModelHint);
            }
            if (onlineServes) return dependencies_.online;
            return unavailable(kOnlineKeyHint);
    }
    return unavailable(kOnlineKeyHint);
}

}  // namespace kestrune
