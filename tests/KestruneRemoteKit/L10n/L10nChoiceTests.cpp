#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <thread>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::string entry(std::string_view key, std::string_view text) {
    return "msgid \"" + std::string(key) + "\"\nmsgstr \"" + std::string(text) + "\"\n\n";
}

// Temporary tables laid out as installed: <root>/app/<language>.po and <root>/kit/<language>.po.
class L10nChoice : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("l10n-choice-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        writeTable("app", "en", entry("Phone Connection", "Phone Connection"));
        writeTable("app", "zh-Hans", entry("Phone Connection", "手机连接"));
        writeTable("kit", "zh-Hans", entry("连接超时", "连接超时"));
        writeTable("kit", "en", entry("连接超时", "The connection timed out"));
    }
    void TearDown() override { fs::remove_all(root_); }

    void writeTable(const std::string& bundle, const std::string& language,
                    const std::string& body) {
        ASSERT_TRUE(writeFileAtomically(root_ / bundle / (language + ".po"), body));
    }

    ResourceBundle app() const { return {root_ / "app"}; }
    ResourceBundle kit() const { return {root_ / "kit"}; }

    // A desktop whose user prefers `languages`, running as the application (not as a test).
    L10n::Environment desktop(std::vector<std::string> languages,
                              std::string currentLocale = "en-US") {
        preferred_ = std::move(languages);
        return L10n::Environment{
            .preferredLanguages = [this] { return preferred_; },
            .currentLocale = [currentLocale] { return currentLocale; },
            .mainLocalizations = [this] { return app().localizations(); },
            .isRunningTests = false,
        };
    }

    fs::path root_;
    std::vector<std::string> preferred_;
};

TEST_F(L10nChoice, OverrideChoosesThatLanguagesTable) {
    L10n l10n(desktop({"zh-CN"}), kit());
    l10n.setLanguageOverride("en");
    EXPECT_EQ(l10n.bundle(app(), "en"), (LocalizedBundle{root_ / "app" / "en.po", "en"}));
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "Phone Connection");
    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "手机连接");
    EXPECT_EQ(l10n.string("连接超时", kit(), "zh-Hans"), "连接超时");
    EXPECT_EQ(l10n.languageOverride(), "zh-Hans");
}

TEST_F(L10nChoice, WithoutOverrideTheSystemsChoiceForTheApplicationDecides) {
    L10n chinese(desktop({"zh-CN", "en-US"}), kit());
    EXPECT_EQ(chinese.string("Phone Connection", app(), "en"), "手机连接");
    EXPECT_EQ(chinese.bundle(kit(), "zh-Hans").language, "zh-Hans");

    // German is not offered: the application falls back to its development language, English,
    // and the kit follows the application rather than its own Chinese source.
    L10n german(desktop({"de-DE"}), kit());
    EXPECT_EQ(german.string("Phone Connection", app(), "en"), "Phone Connection");
    EXPECT_EQ(german.string("连接超时", kit(), "zh-Hans"), "The connection timed out");
}

TEST_F(L10nChoice, TestProgramsAndUnlocalizedProgramsUseTheSourceLanguage) {
    auto environment = desktop({"zh-CN"});
    environment.isRunningTests = true;
    L10n underTest(environment, kit());
    EXPECT_EQ(underTest.bundle(app(), "en").language, "en");
    EXPECT_EQ(underTest.bundle(kit(), "zh-Hans").language, "zh-Hans");

    auto baseOnly = desktop({"en-US"});
    baseOnly.mainLocalizations = [] { return std::vector<std::string>{"Base"}; };
    L10n unlocalized(baseOnly, kit());
    EXPECT_EQ(unlocalized.string("连接超时", kit(), "zh-Hans"), "连接超时");
}

TEST_F(L10nChoice, MissingTablesAndKeysShowTheKey) {
    L10n l10n(desktop({"en"}), kit());
    l10n.setLanguageOverride("fr");
    // No French table and no table in the source language: the folder itself, without texts.
    const ResourceBundle bare{root_ / "bare"};
    fs::create_directories(bare.folder);
    EXPECT_EQ(l10n.bundle(bare, "en"), (LocalizedBundle{bare.folder, std::nullopt}));
    EXPECT_EQ(l10n.string("Phone Connection", bare, "en"), "Phone Connection");
    // No French table, but the source language has one.
    EXPECT_EQ(l10n.bundle(app(), "en").language, "en");
    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(l10n.string("A text nobody translated", app(), "en"), "A text nobody translated");
    const ResourceBundle missing{root_ / "does-not-exist"};
    EXPECT_EQ(l10n.string("Phone Connection", missing, "en"), "Phone Connection");
}

TEST_F(L10nChoice, ChoicesAreRememberedUntilTheOverrideIsSetEvenToTheSameValue) {
    L10n l10n(desktop({"zh-CN"}), kit());
    l10n.setLanguageOverride("en");
    ASSERT_EQ(l10n.bundle(app(), "en").language, "en");
    fs::remove(root_ / "app" / "en.po");
    EXPECT_EQ(l10n.bundle(app(), "en").language, "en") << "the remembered choice is used";
    l10n.setLanguageOverride("en");
    EXPECT_EQ(l10n.bundle(app(), "en"), (LocalizedBundle{root_ / "app", std::nullopt}));
}

TEST_F(L10nChoice, SystemLanguageChangesArePickedUpWhenTheChoicesAreEmptied) {
    L10n l10n(desktop({"zh-CN"}), kit());
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "手机连接");
    preferred_ = {"en-GB"};
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "手机连接");
    l10n.setLanguageOverride(std::nullopt);
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "Phone Connection");
}

TEST_F(L10nChoice, TrUsesExactlyTheGivenLanguage) {
    L10n l10n(desktop({"en"}), kit());
    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(l10n.tr("连接超时", "en"), "The connection timed out");
    EXPECT_EQ(l10n.tr("连接超时", "en-GB"), "The connection timed out");
    EXPECT_EQ(l10n.tr("连接超时", "zh-Hans"), "连接超时");
    EXPECT_EQ(l10n.tr("连接超时", "ja"), "连接超时") << "no Japanese table: the key";
}

TEST_F(L10nChoice, KitLocaleKeepsRegionalFormatsOnlyForTheSameLanguage) {
    L10n british(desktop({"en-GB"}, "en-GB"), kit());
    EXPECT_EQ(british.locale(), "en-GB");
    L10n germanDesktop(desktop({"de-DE"}, "de-DE"), kit());
    EXPECT_EQ(germanDesktop.locale(), "en");
    L10n chinese(desktop({"zh-CN"}, "zh-CN"), kit());
    EXPECT_EQ(chinese.locale(), "zh-CN");
    L10n noLocale(desktop({"zh-CN"}, ""), kit());
    EXPECT_EQ(noLocale.locale(), "zh-Hans");
    noLocale.setLanguageOverride("en");
    EXPECT_EQ(noLocale.locale(), "en");
}

TEST_F(L10nChoice, ABrokenTableIsReportedOnceAndShowsKeys) {
    writeTable("app", "zh-Hans",
               "msgid \"Phone Connection\"\nmsgstr \"手机连接\"\nmsgctxt \"x\"\n");
    std::vector<std::string> logged;
    setLogSink([&](LogLevel, std::string_view, std::string_view message) {
        logged.emplace_back(message);
    });
    L10n l10n(desktop({"zh-CN"}), kit());
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "Phone Connection");
    EXPECT_EQ(l10n.string("Phone Connection", app(), "en"), "Phone Connection");
    setLogSink({});
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("zh-Hans.po: line 3"), std::string::npos) << logged[0];
}

TEST_F(L10nChoice, LookupsFromManyThreadsWhileTheLanguageSwitches) {
    L10n l10n(desktop({"en"}), kit());
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const auto text = l10n.string("Phone Connection", app(), "en");
                if (text != "手机连接" && text != "Phone Connection") ++wrong;
                const auto locale = l10n.locale();
                if (locale.empty()) ++wrong;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) l10n.setLanguageOverride(i % 2 ? "en" : "zh-Hans");
    stop = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(L10nChoice, ResourceFoldersAreFoundInOrder) {
    const auto prefix = root_ / "prefix";
    const auto installed = prefix / "share" / "murrelo" / "l10n";
    fs::create_directories(installed / "app");
    fs::create_directories(prefix / "bin");
    const auto elsewhere = root_ / "configured";
    fs::create_directories(elsewhere);

    // The environment variable wins, even over an installation beside the executable.
    EXPECT_EQ(L10n::findResourceFolder(root_.c_str(), prefix / "bin" / "murrelo", elsewhere),
              root_);
    // A named folder that does not exist is not silently replaced by another installation.
    EXPECT_EQ(
        L10n::findResourceFolder((root_ / "nope").c_str(), prefix / "bin" / "murrelo", elsewhere),
        std::nullopt);
    // A relocated prefix finds its own tables.
    EXPECT_EQ(L10n::findResourceFolder(nullptr, prefix / "bin" / "murrelo", elsewhere), installed);
    EXPECT_EQ(L10n::findResourceFolder("", root_ / "build" / "murrelo", elsewhere), elsewhere);
    EXPECT_EQ(L10n::findResourceFolder(nullptr, root_ / "build" / "murrelo", root_ / "absent"),
              std::nullopt);

    const auto fallback = [&] { return ResourceBundle{root_ / "fallback"}; };
    EXPECT_EQ(L10n::resources("app", installed, fallback).folder, installed / "app");
    EXPECT_EQ(L10n::resources("kit", installed, fallback).folder, root_ / "fallback");
    EXPECT_EQ(L10n::resources("app", std::nullopt, fallback).folder, root_ / "fallback");
}

TEST_F(L10nChoice, LocalizationsAreTheTablesInTheFolder) {
    ASSERT_TRUE(writeFileAtomically(root_ / "app" / "README", "not a table"));
    fs::create_directories(root_ / "app" / "fr.po");  // a folder, not a table
    EXPECT_EQ(app().localizations(), (std::vector<std::string>{"en", "zh-Hans"}));
    EXPECT_TRUE(ResourceBundle{root_ / "absent"}.localizations().empty());
}

}  // namespace
}  // namespace kestrune
