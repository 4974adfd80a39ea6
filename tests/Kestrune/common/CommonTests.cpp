#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/common/KestruneError.hpp"
#include "Kestrune/common/Trimming.hpp"

namespace kestrune {
namespace {

TEST(AppLanguage, RawValuesRoundTripInTableOrderAndNothingElseParses) {
    std::vector<std::string> raw;
    for (const auto language : kAllAppLanguages) {
        raw.emplace_back(rawValue(language));
        EXPECT_EQ(appLanguageFromRawValue(rawValue(language)), language);
    }
    EXPECT_EQ(raw, (std::vector<std::string>{"en-US", "zh-CN", "zh-TW", "ja-JP", "ko-KR"}));
    EXPECT_EQ(displayName(AppLanguage::traditionalChinese), "繁體中文");
    for (const char* other : {"fr-FR", "", "zh-cn", "en", "zh-CN "}) {
        EXPECT_EQ(appLanguageFromRawValue(other), std::nullopt) << other;
    }
}

TEST(AppLanguage, TheDesktopLocaleGivesTheLanguageByTerritoryAndEnglishOtherwise) {
    EXPECT_EQ(appLanguageForLocale("zh_CN.UTF-8"), AppLanguage::simplifiedChinese);
    EXPECT_EQ(appLanguageForLocale("zh_SG"), AppLanguage::simplifiedChinese);
    EXPECT_EQ(appLanguageForLocale("zh_TW.UTF-8"), AppLanguage::traditionalChinese);
    EXPECT_EQ(appLanguageForLocale("zh_HK.Big5@stroke"), AppLanguage::traditionalChinese);
    EXPECT_EQ(appLanguageForLocale("ja_JP.eucJP"), AppLanguage::japanese);
    EXPECT_EQ(appLanguageForLocale("ko"), AppLanguage::korean);
    for (const auto other : {"en_US.UTF-8", "de_DE", "C", "POSIX", "", "zh", "kok_IN", "jav"}) {
        EXPECT_EQ(appLanguageForLocale(other), AppLanguage::english) << other;
    }
}

TEST(Trimming, RemovesUnicodeSpaceAtBothEndsOnly) {
    EXPECT_EQ(trimmedWhitespaceAndNewlines("\u3000 a b \r\n\u2029"), "a b");
    EXPECT_EQ(trimmedWhitespaceAndNewlines("中文\u00a0"), "中文");
    EXPECT_EQ(trimmedWhitespaceAndNewlines("   "), "");
    // Damaged or overlong sequences are text, never space.
    EXPECT_EQ(trimmedWhitespaceAndNewlines("\xc0\xa0x\xe3\x80"), "\xc0\xa0x\xe3\x80");
    EXPECT_EQ(trimmedWhitespaceAndNewlines(" \xff "), "\xff");
}

TEST(KestruneError, DescriptionsAreTheMessageOrTheLocalizedText) {
    EXPECT_EQ(KestruneError::llmFailed("boom").localizedDescription(), "boom");
    EXPECT_EQ(KestruneError::recordingFailed("r").localizedDescription(), "r");
    EXPECT_EQ(KestruneError::pasteFailed("p").localizedDescription(), "p");
    EXPECT_EQ(KestruneError::permissionsDenied().localizedDescription(),
              "Microphone / speech permissions are required.");
    EXPECT_EQ(KestruneError::recognizerUnavailable().localizedDescription(),
              "Speech recognizer is unavailable for the selected language.");
    EXPECT_NE(KestruneError::llmFailed("a"), KestruneError::pasteFailed("a"));
}

}  // namespace
}  // namespace kestrune
