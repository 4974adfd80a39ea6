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

}  // namespace kestrune
