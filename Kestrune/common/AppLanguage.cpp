#include "Kestrune/common/AppLanguage.hpp"

namespace kestrune {

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

AppLanguage appLanguageForLocale(std::string_view posixLocale) {
    // language[_territory][.codeset][@modifier]
    const auto name = posixLocale.substr(0, posixLocale.find_first_of(".@"));
    const auto underscore = name.find('_');
    const auto language = name.substr(0, underscore);
    const auto territory =
        underscore == std::string_view::npos ? std::string_view() : name.substr(underscore + 1);
    if (language == "zh") {
        if (territory == "CN" || territory == "SG") return AppLanguage::simplifiedChinese;
        if (territory == "TW" || territory == "HK") return AppLanguage::traditionalChinese;
    }
    if (language == "ja") return AppLanguage::japanese;
    if (language == "ko") return AppLanguage::korean;
    return AppLanguage::english;
}

}  // namespace kestrune
