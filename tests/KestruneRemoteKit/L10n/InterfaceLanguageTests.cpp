#include <gtest/gtest.h>

#include <map>

#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {
namespace {

using Case = InterfaceLanguage::Case;

TEST(InterfaceLanguage, StoredValuesOtherThanTheTwoLanguagesFollowTheSystem) {
    EXPECT_EQ(InterfaceLanguage::fromStored("zh-Hans"), Case::simplifiedChinese);
    EXPECT_EQ(InterfaceLanguage::fromStored("en"), Case::english);
    for (const auto& other : {"zh-Hant", "system", "EN", "", "zh-Hans "}) {
        EXPECT_EQ(InterfaceLanguage::fromStored(std::string(other)), Case::system) << other;
    }
    EXPECT_EQ(InterfaceLanguage::fromStored(std::nullopt), Case::system);
    const auto stored =
        InterfaceLanguage::stored([](std::string_view key) -> std::optional<std::string> {
            return key == "interfaceLanguage" ? std::optional<std::string>("en") : std::nullopt;
        });
    EXPECT_EQ(stored, Case::english);
}

TEST(InterfaceLanguage, RawValuesOverridesAndTitles) {
    const std::map<Case, std::tuple<std::string, std::optional<std::string>, std::string>>
        expected = {
            {Case::system, {"system", std::nullopt, "Match System"}},
            {Case::simplifiedChinese, {"zh-Hans", "zh-Hans", "简体中文"}},
            {Case::english, {"en", "en", "English"}},
        };
    L10n::shared().setLanguageOverride("en");
    for (const auto value : InterfaceLanguage::allCases) {
        const InterfaceLanguage language(value);
        EXPECT_EQ(language.rawValue(), std::get<0>(expected.at(value)));
        EXPECT_EQ(language.languageOverride(), std::get<1>(expected.at(value)));
        EXPECT_EQ(language.title(), std::get<2>(expected.at(value)));
        EXPECT_EQ(InterfaceLanguage::fromStored(std::string(language.rawValue())), language);
    }
    // The language names stay in their own language; only "Match System" is translated.
    L10n::shared().setLanguageOverride("zh-Hans");
    EXPECT_EQ(InterfaceLanguage(Case::system).title(), "跟随系统");
    EXPECT_EQ(InterfaceLanguage(Case::english).title(), "English");
}

TEST(InterfaceLanguage, SelectStoresThenAppliesThenAnnounces) {
    L10n::shared().setLanguageOverride("en");
    std::vector<std::string> steps;
    InterfaceLanguage(Case::simplifiedChinese)
        .select(
            [&](std::string_view key, const std::string& value) {
                steps.push_back(std::string(key) + "=" + value);
                EXPECT_NE(L10n::shared().languageOverride(), "zh-Hans")
                    << "stored before it is applied";
            },
            [&] {
                steps.push_back("announced with " +
                                L10n::shared().languageOverride().value_or("none"));
                EXPECT_EQ(localized("Phone Connection"), "手机连接");
            });
    EXPECT_EQ(steps,
              (std::vector<std::string>{"interfaceLanguage=zh-Hans", "announced with zh-Hans"}));

    InterfaceLanguage(Case::system).apply();
    EXPECT_EQ(L10n::shared().languageOverride(), std::nullopt);
}

}  // namespace
}  // namespace kestrune
