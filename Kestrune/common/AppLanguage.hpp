#pragma once

#include <array>
#include <optional>
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
// The language a desktop in this POSIX locale ("zh_TW.UTF-8", "ja_JP", "C") most likely speaks:
// Chinese by territory (zh_CN and zh_SG simplified, zh_TW and zh_HK traditional), Japanese,
// Korean, and English for everything else.
AppLanguage appLanguageForLocale(std::string_view posixLocale);

}  // namespace kestrune
