#include <gtest/gtest.h>

#include "Kestrune/settings/LLMKeyStore.hpp"
#include "Kestrune/settings/Models.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"

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

TEST(LLMConfiguration, FirstEmptyFieldTrimsEverythingButTheKey) {
    const LLMConfiguration full{"https://x/v1", "k", "m", true};
    EXPECT_EQ(full.firstEmptyField(), std::nullopt);

    auto c = full;
    c.baseURL = " \n\t\u3000";
    c.apiKey = "";
    EXPECT_EQ(c.firstEmptyField(), LLMField::baseURL) << "checked in order";

    c = full;
    c.apiKey = " ";
    EXPECT_EQ(c.firstEmptyField(), std::nullopt) << "a key of a space is a key";
    c.apiKey = "";
    EXPECT_EQ(c.firstEmptyField(), LLMField::apiKey);

    c = full;
    c.model = " ";
    EXPECT_EQ(c.firstEmptyField(), LLMField::model);
    c.model = "\u00a0\u2028";
    EXPECT_EQ(c.firstEmptyField(), LLMField::model);

    EXPECT_NE(full, (LLMConfiguration{"https://x/v1", "k", "m", false}));
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

TEST(LLMField, TitlesAreTheFormLabels) {
    EXPECT_EQ(title(LLMField::baseURL), "API Base URL");
    EXPECT_EQ(title(LLMField::apiKey), "API Key");
    EXPECT_EQ(title(LLMField::model), "Model");
}

TEST(InMemoryLLMKeyStore, StoresEmptyAsNoneAndRefusesWhenToldTo) {
    InMemoryLLMKeyStore store;
    EXPECT_TRUE(store.write("k"));
    EXPECT_EQ(store.read(), "k");
    EXPECT_TRUE(store.write(""));
    EXPECT_EQ(store.read(), std::nullopt);
    store.value = "kept";
    store.failWrites = true;
    const auto refused = store.write("new");
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.error().empty());
    EXPECT_EQ(store.read(), "kept");
}

}  // namespace
}  // namespace kestrune
