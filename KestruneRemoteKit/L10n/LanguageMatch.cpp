#include "KestruneRemoteKit/L10n/LanguageMatch.hpp"

#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>

namespace kestrune {

namespace {

// ICU locale ids are short; this bounds every buffer handed to it.
constexpr int32_t kLocaleIdCapacity = ULOC_FULLNAME_CAPACITY;

struct Subtags {
    std::string language;
    std::string script;
    std::string region;
};

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<std::string> icuId(std::string_view identifier) {
    if (identifier.empty() || identifier.size() >= static_cast<std::size_t>(kLocaleIdCapacity)) {
        return std::nullopt;
    }
    std::string tag(identifier);
    std::replace(tag.begin(), tag.end(), '_', '-');
    char id[kLocaleIdCapacity] = {};
    int32_t parsed = 0;
    UErrorCode status = U_ZERO_ERROR;
    uloc_forLanguageTag(tag.c_str(), id, kLocaleIdCapacity, &parsed, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING ||
        parsed != static_cast<int32_t>(tag.size()) || id[0] == '\0') {
        return std::nullopt;
    }
    return std::string(id);
}

std::optional<Subtags> maximized(std::string_view identifier) {
    const auto id = icuId(identifier);
    if (!id) return std::nullopt;
    char full[kLocaleIdCapacity] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_addLikelySubtags(id->c_str(), full, kLocaleIdCapacity, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING) return std::nullopt;
    char language[ULOC_LANG_CAPACITY] = {};
    char script[ULOC_SCRIPT_CAPACITY] = {};
    char region[ULOC_COUNTRY_CAPACITY] = {};
    uloc_getLanguage(full, language, ULOC_LANG_CAPACITY, &status);
    uloc_getScript(full, script, ULOC_SCRIPT_CAPACITY, &status);
    uloc_getCountry(full, region, ULOC_COUNTRY_CAPACITY, &status);
    if (U_FAILURE(status) || language[0] == '\0') return std::nullopt;
    return Subtags{language, script, region};
}

}  // namespace

std::vector<std::string> preferredLocalizations(const std::vector<std::string>& available,
                                                const std::vector<std::string>& preferences) {
    for (const auto& preference : preferences) {
        for (const auto& candidate : available) {
            if (candidate != "Base" && lowered(candidate) == lowered(preference))
                return {candidate};
        }
        const auto wanted = maximized(preference);
        if (!wanted) continue;
        const std::string* sameScript = nullptr;
        for (const auto& candidate : available) {
            if (candidate == "Base") continue;
            const auto offered = maximized(candidate);
            if (!offered || offered->language != wanted->language ||
                offered->script != wanted->script) {
                continue;
            }
            if (offered->region == wanted->region) return {candidate};
            if (!sameScript) sameScript = &candidate;
        }
        if (sameScript) return {*sameScript};
    }
    return {};
}

std::optional<std::string> languageCode(std::string_view identifier) {
    const auto id = icuId(identifier);
    if (!id) return std::nullopt;
    char language[ULOC_LANG_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getLanguage(id->c_str(), language, ULOC_LANG_CAPACITY, &status);
    if (U_FAILURE(status) || language[0] == '\0') return std::nullopt;
    return std::string(language);
}

std::optional<std::string> languageIdentifierFromPosix(std::string_view posixName) {
    posixName = posixName.substr(0, posixName.find_first_of(".@"));
    if (posixName.empty() || posixName == "C" || posixName == "POSIX") return std::nullopt;
    std::string identifier(posixName);
    for (char& c : identifier) {
        if (c == '_') {
            c = '-';
        } else if (!std::isalnum(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
    }
    if (!languageCode(identifier)) return std::nullopt;
    return identifier;
}

std::vector<std::string> userLanguages(std::string_view languageList,
                                       std::string_view messagesLocale) {
    const auto messagesLanguage = languageIdentifierFromPosix(messagesLocale);
    std::vector<std::string> languages;
    if (!messagesLanguage) return languages;
    while (!languageList.empty()) {
        const auto colon = languageList.find(':');
        if (auto language = languageIdentifierFromPosix(languageList.substr(0, colon))) {
            languages.push_back(std::move(*language));
        }
        languageList =
            colon == std::string_view::npos ? std::string_view{} : languageList.substr(colon + 1);
    }
    languages.push_back(*messagesLanguage);
    return languages;
}

}  // namespace kestrune
