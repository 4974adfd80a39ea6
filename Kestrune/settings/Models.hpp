#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// The speech recognition language; its raw value is the locale the recognizer gets and what the
// settings keep.
enum class AppLanguage { english, simplifiedChinese, traditionalChinese, japanese, korean };

inline constexpr std::array<AppLanguage, 5> kAllAppLanguages = {
    AppLanguage::english, AppLanguage::simplifiedChinese, AppLanguage::traditionalChinese,
    AppLanguage::japanese, AppLanguage::korean};

std::string_view rawValue(AppLanguage language);
// The language's own name, shown untranslated in menus and in the refinement prompt.
std::string_view displayName(AppLanguage language);
// None for anything but the five raw values.
std::optional<AppLanguage> appLanguageFromRawValue(std::string_view raw);

// Which recognizer the user wants (the setting "speechEngine"): `automatic` ("auto") is the
// built-in one for English and the online one for the other languages.
enum class SpeechEnginePreference { automatic, builtIn, online };

std::string_view rawValue(SpeechEnginePreference preference);
// None for anything but "auto", "builtIn" and "online".
std::optional<SpeechEnginePreference> speechEnginePreferenceFromRawValue(std::string_view raw);

// The fields of the refinement settings form, in the order it checks them.
enum class LLMField { baseURL, apiKey, model };

inline constexpr std::array<LLMField, 3> kAllLLMFields = {LLMField::baseURL, LLMField::apiKey,
                                                          LLMField::model};

// The localized label of the field.
std::string title(LLMField field);

struct LLMConfiguration {
    std::string baseURL;
    std::string apiKey;
    std::string model;
    bool isEnabled = false;

    // The first field left unfilled. A key is taken as typed: a key of spaces is a key.
    std::optional<LLMField> firstEmptyField() const;

    bool operator==(const LLMConfiguration&) const = default;
};

// The application's failures that reach the user.
class KestruneError {
  public:
    enum class Kind {
        recordingFailed,
        llmFailed,
        pasteFailed,
        permissionsDenied,
        recognizerUnavailable
    };

    static KestruneError recordingFailed(std::string message);
    static KestruneError llmFailed(std::string message);
    static KestruneError pasteFailed(std::string message);
    static KestruneError permissionsDenied();
    // `hint` says which setting would give a recognizer; it follows the standard sentence.
    static KestruneError recognizerUnavailable(std::string hint = {});

    Kind kind() const { return kind_; }
    // The message carried by the first three kinds, the hint of `recognizerUnavailable`; empty
    // for `permissionsDenied`.
    const std::string& message() const { return message_; }
    // What the user is shown.
    std::string localizedDescription() const;

    bool operator==(const KestruneError&) const = default;

  private:
    KestruneError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

// Text with white space and line breaks removed from both ends.
std::string_view trimmedWhitespaceAndNewlines(std::string_view text);

}  // namespace kestrune
