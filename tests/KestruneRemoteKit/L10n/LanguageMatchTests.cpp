#include <gtest/gtest.h>

#include "KestruneRemoteKit/L10n/LanguageMatch.hpp"

namespace kestrune {
namespace {

using Languages = std::vector<std::string>;

TEST(LanguageMatch, ExactIdentifiersWinInPreferenceOrder) {
    EXPECT_EQ(preferredLocalizations({"zh-Hans", "en"}, {"en"}), Languages{"en"});
    EXPECT_EQ(preferredLocalizations({"en", "zh-Hans"}, {"zh-Hans", "en"}), Languages{"zh-Hans"});
    EXPECT_EQ(preferredLocalizations({"en", "zh-Hans"}, {"zh_hans"}), Languages{"zh-Hans"});
}

TEST(LanguageMatch, RegionalPreferencesFindTheirLanguageAndScript) {
    const Languages ours{"en", "zh-Hans"};
    EXPECT_EQ(preferredLocalizations(ours, {"en-GB"}), Languages{"en"});
    EXPECT_EQ(preferredLocalizations(ours, {"zh-CN"}), Languages{"zh-Hans"});
    EXPECT_EQ(preferredLocalizations(ours, {"zh-SG"}), Languages{"zh-Hans"});
    EXPECT_EQ(preferredLocalizations(ours, {"zh"}), Languages{"zh-Hans"});
    // Traditional Chinese readers are not served Simplified Chinese; the next preference decides.
    EXPECT_EQ(preferredLocalizations(ours, {"zh-TW"}), Languages{});
    EXPECT_EQ(preferredLocalizations(ours, {"zh-Hant", "en-AU"}), Languages{"en"});
    EXPECT_EQ(preferredLocalizations(ours, {"de-DE", "fr"}), Languages{});
}

TEST(LanguageMatch, PrefersTheSameRegionAndIgnoresBase) {
    EXPECT_EQ(preferredLocalizations({"en", "en-GB"}, {"en-GB"}), Languages{"en-GB"});
    EXPECT_EQ(preferredLocalizations({"en-AU", "en-GB"}, {"en-NZ"}), Languages{"en-AU"});
    EXPECT_EQ(preferredLocalizations({"Base"}, {"Base", "en"}), Languages{});
    EXPECT_EQ(preferredLocalizations({}, {"en"}), Languages{});
    EXPECT_EQ(preferredLocalizations({"en"}, {}), Languages{});
    EXPECT_EQ(preferredLocalizations({"en"}, {"", "not a language!"}), Languages{});
}

TEST(LanguageMatch, LanguageCodes) {
    EXPECT_EQ(languageCode("en-GB"), "en");
    EXPECT_EQ(languageCode("zh-Hans"), "zh");
    EXPECT_EQ(languageCode("de"), "de");
    EXPECT_EQ(languageCode(""), std::nullopt);
    EXPECT_EQ(languageCode("???"), std::nullopt);
}

TEST(LanguageMatch, PosixLocaleNames) {
    EXPECT_EQ(languageIdentifierFromPosix("zh_CN.UTF-8"), "zh-CN");
    EXPECT_EQ(languageIdentifierFromPosix("de_DE@euro"), "de-DE");
    EXPECT_EQ(languageIdentifierFromPosix("en_GB.utf8@x"), "en-GB");
    EXPECT_EQ(languageIdentifierFromPosix("fr"), "fr");
    EXPECT_EQ(languageIdentifierFromPosix("C"), std::nullopt);
    EXPECT_EQ(languageIdentifierFromPosix("C.UTF-8"), std::nullopt);
    EXPECT_EQ(languageIdentifierFromPosix("POSIX"), std::nullopt);
    EXPECT_EQ(languageIdentifierFromPosix(""), std::nullopt);
    EXPECT_EQ(languageIdentifierFromPosix("../../etc"), std::nullopt);
}

TEST(LanguageMatch, UserLanguagesFollowGettextRules) {
    EXPECT_EQ(userLanguages("zh_CN:en_GB", "de_DE.UTF-8"), (Languages{"zh-CN", "en-GB", "de-DE"}));
    EXPECT_EQ(userLanguages("", "zh_CN.UTF-8"), Languages{"zh-CN"});
    EXPECT_EQ(userLanguages("zh_CN::bad!:fr", "en_US.UTF-8"), (Languages{"zh-CN", "fr", "en-US"}));
    // With no language chosen for messages, LANGUAGE does not count.
    EXPECT_EQ(userLanguages("zh_CN", "C.UTF-8"), Languages{});
    EXPECT_EQ(userLanguages("zh_CN", ""), Languages{});
}

}  // namespace
}  // namespace kestrune
