#include "Kestrune/settings/Models.hpp"

#include <utility>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

// White space and line breaks as people mean them: the control characters tab to carriage return,
// next line, and every Unicode space and line or paragraph separator (categories Zs, Zl, Zp).
bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The code point that starts at `at` and its length; a broken sequence counts as one
// non-space byte, so damaged text is never trimmed into.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte < 0x80           ? 1
                         : (byte >> 5) == 0x6  ? 2
                         : (byte >> 4) == 0xE  ? 3
                         : (byte >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || at + length > text.size()) return {0xFFFD, 1};
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {0xFFFD, 1};
        c = (c << 6) | (next & 0x3F);
    }
    constexpr char32_t kShortestForLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kShortestForLength[length]) return {0xFFFD, 1};
    return {c, length};
}

}  // namespace

std::string_view trimmedWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto [c, length] = decodeAt(text, begin);
        if (!isWhitespaceOrNewline(c)) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        // Step back over continuation bytes to the start of the last code point.
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        const auto [c, length] = decodeAt(text, start);
        if (start + length != end || !isWhitespaceOrNewline(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

std::string_view rawValue(AppLanguage language) {
    switch (language) {
        case AppLanguage::english:
            return "en-US";
        case AppLanguage::simplifiedChinese:
            return "zh-CN";
        case AppLanguage::traditionalChinese:
            return "zh-TW";
        case AppLanguage::japanese:
            return "ja-JP";
        case AppLanguage::korean:
            return "ko-KR";
    }
    return "zh-CN";
}

std::string_view displayName(AppLanguage language) {
    switch (language) {
        case AppLanguage::english:
            return "English";
        case AppLanguage::simplifiedChinese:
            return "简体中文";
        case AppLanguage::traditionalChinese:
            return "繁體中文";
        case AppLanguage::japanese:
            return "日本語";
        case AppLanguage::korean:
            return "한국어";
    }
    return "简体中文";
}

std::optional<AppLanguage> appLanguageFromRawValue(std::string_view raw) {
    for (const auto language : kAllAppLanguages) {
        if (rawValue(language) == raw) return language;
    }
    return std::nullopt;
}

std::string_view rawValue(SpeechEnginePreference preference) {
    switch (preference) {
        case SpeechEnginePreference::automatic:
            return "auto";
        case SpeechEnginePreference::builtIn:
            return "builtIn";
        case SpeechEnginePreference::online:
            return "online";
    }
    return "auto";
}

std::optional<SpeechEnginePreference> speechEnginePreferenceFromRawValue(std::string_view raw) {
    for (const auto preference :
         {SpeechEnginePreference::automatic, SpeechEnginePreference::builtIn,
          SpeechEnginePreference::online}) {
        if (rawValue(preference) == raw) return preference;
    }
    return std::nullopt;
}

std::string title(LLMField field) {
    switch (field) {
        case LLMField::baseURL:
            return localized("API Base URL");
        case LLMField::apiKey:
            return localized("API Key");
        case LLMField::model:
            return localized("Model");
    }
    return {};
}

std::optional<LLMField> LLMConfiguration::firstEmptyField() const {
    if (trimmedWhitespaceAndNewlines(baseURL).empty()) return LLMField::baseURL;
    if (apiKey.empty()) return LLMField::apiKey;
    if (trimmedWhitespaceAndNewlines(model).empty()) return LLMField::model;
    return std::nullopt;
}

KestruneError KestruneError::recordingFailed(std::string message) {
    return {Kind::recordingFailed, std::move(message)};
}

KestruneError KestruneError::llmFailed(std::string message) {
    return {Kind::llmFailed, std::move(message)};
}

KestruneError KestruneError::pasteFailed(std::string message) {
    return {Kind::pasteFailed, std::move(message)};
}

KestruneError KestruneError::permissionsDenied() {
    return {Kind::permissionsDenied, {}};
}

KestruneError KestruneError::recognizerUnavailable(std::string hint) {
    return {Kind::recognizerUnavailable, std::move(hint)};
}

std::string KestruneError::localizedDescription() const {
    switch (kind_) {
        case Kind::recordingFailed:
        case Kind::llmFailed:
        case Kind::pasteFailed:
            return message_;
        case Kind::permissionsDenied:
            return localized("Microphone / speech permissions are required.");
        case Kind::recognizerUnavailable: {
            auto text = localized("Speech recognizer is unavailable for the selected language.");
            return message_.empty() ? text : text + " " + message_;
        }
    }
    return message_;
}

}  // namespace kestrune
