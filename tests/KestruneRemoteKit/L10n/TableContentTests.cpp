#include <gtest/gtest.h>

#include <unistd.h>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "KestruneRemoteKit/L10n/AppL10n.hpp"
#include "KestruneRemoteKit/L10n/KitTexts.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/L10n/L10nCheck.hpp"
#include "KestruneRemoteKit/L10n/StringTable.hpp"
#include "KestruneRemoteKit/L10n/TextFormat.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

const fs::path kTables = fs::path(MURRELO_SOURCE_DIR) / "resources" / "l10n";

StringTable load(const std::string& bundle, const std::string& language) {
    auto table = loadStringTable(kTables / bundle / (language + ".po"));
    EXPECT_TRUE(table.ok()) << (table.ok() ? "" : table.error());
    return table.ok() ? std::move(table).value() : StringTable{};
}

// The source table lists every key (as itself); the other language must translate each of them,
// with the same inserted values, and nothing else.
void expectComplete(const std::string& bundle, const std::string& source,
                    const std::string& target) {
    const auto keys = load(bundle, source);
    const auto translations = load(bundle, target);
    EXPECT_FALSE(keys.entries.empty());
    for (const auto& [key, text] : keys.entries) {
        EXPECT_EQ(text, key) << bundle << "/" << source << ".po must give each key as itself";
        const std::string* translation = translations.find(key);
        if (!translation) {
            ADD_FAILURE() << bundle << "/" << target << ".po lacks \"" << key << "\"";
            continue;
        }
        EXPECT_EQ(formatPlaceholders(key), formatPlaceholders(*translation))
            << "inserted values differ for \"" << key << "\"";
    }
    for (const auto& [key, text] : translations.entries) {
        EXPECT_NE(keys.find(key), nullptr)
            << bundle << "/" << target << ".po has unknown key \"" << key << "\"";
    }
}

TEST(TableContent, EveryApplicationKeyHasAChineseTranslation) {
    expectComplete("app", "en", "zh-Hans");
}

TEST(TableContent, EveryKitKeyHasAnEnglishTranslation) {
    expectComplete("kit", "zh-Hans", "en");
}

// Linux has no Mac, Finder, System Settings or iPhone: the texts name what the user has here.
TEST(TableContent, TextsNameNoMacOnlyThings) {
    for (const auto& bundle : {"app", "kit"}) {
        for (const auto& language : {"en", "zh-Hans"}) {
            for (const auto& [key, text] : load(bundle, language).entries) {
                for (const auto& word :
                     {"Mac", "macOS", "Finder", "System Settings", "iPhone", "⌘", "⌥"}) {
                    EXPECT_EQ(text.find(word), std::string::npos)
                        << bundle << "/" << language << ": " << text;
                }
            }
        }
    }
}

// gettext's own checker agrees that the tables are well formed and the c-format values match.
TEST(TableContent, GettextAcceptsTheTables) {
    if (std::system("command -v msgfmt >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "msgfmt is not installed";
    for (const auto& file : {"app/en.po", "app/zh-Hans.po", "kit/en.po", "kit/zh-Hans.po"}) {
        const std::string command =
            "msgfmt --check --check-format -o /dev/null '" + (kTables / file).string() + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << file;
    }
}

std::size_t skipSpace(const std::string& source, std::size_t at) {
    while (at < source.size() && std::isspace(static_cast<unsigned char>(source[at]))) ++at;
    return at;
}

// Reads the key at `at`: one string literal, or several adjacent ones (a long key split over
// lines), undoing simple escapes. None when the argument is not a literal.
std::optional<std::string> literalKeyAt(const std::string& source, std::size_t at) {
    at = skipSpace(source, at);
    if (at >= source.size() || source[at] != '"') return std::nullopt;
    std::string out;
    while (at < source.size() && source[at] == '"') {
        std::size_t i = at + 1;
        for (; i < source.size() && source[i] != '"'; ++i) {
            if (source[i] == '\\' && i + 1 < source.size()) {
                const char next = source[++i];
                out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
            } else {
                out += source[i];
            }
        }
        at = skipSpace(source, i + 1);
    }
    return out;
}

bool isIdentifierCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Every literal key that the program's sources look up must be in the tables, or users see the
// English key in the Chinese interface.
TEST(TableContent, EveryKeyTheSourcesLookUpIsInTheTables) {
    const auto appKeys = load("app", "en");
    const auto kitKeys = load("kit", "zh-Hans");
    const struct {
        std::string call;
        const StringTable* keys;
    } lookups[] = {
        {"localized(", &appKeys}, {"localizedFormat(", &appKeys}, {"kitLocalized(", &kitKeys}};
    std::size_t checked = 0;
    for (const auto* top : {"Kestrune", "KestruneRemoteKit", "platform", "tools"}) {
        const auto dir = fs::path(MURRELO_SOURCE_DIR) / top;
        if (!fs::exists(dir)) continue;
        for (const auto& file : fs::recursive_directory_iterator(dir)) {
            const auto extension = file.path().extension();
            if (extension != ".cpp" && extension != ".hpp") continue;
            const auto source = readWholeFile(file.path());
            if (!source) continue;
            for (const auto& lookup : lookups) {
                for (auto at = source->find(lookup.call); at != std::string::npos;
                     at = source->find(lookup.call, at + 1)) {
                    // "kitLocalized(" also ends in "Localized(": only whole names count.
                    if (at > 0 && isIdentifierCharacter((*source)[at - 1])) continue;
                    const auto key = literalKeyAt(*source, at + lookup.call.size());
                    if (!key) continue;
                    ++checked;
                    EXPECT_NE(lookup.keys->find(*key), nullptr)
                        << file.path().lexically_relative(MURRELO_SOURCE_DIR).string()
                        << " looks up \"" << *key << "\", which the tables lack";
                }
            }
        }
    }
    EXPECT_GT(checked, 0u);
}

TEST(TableContent, TheApplicationFindsItsTablesFromTheBuildTree) {
    // Test programs run from the build tree with no installation: the source tables serve them.
    EXPECT_EQ(AppL10n::resources().localizations(), (std::vector<std::string>{"en", "zh-Hans"}));
    EXPECT_EQ(L10n::shared().kitResources().localizations(),
              (std::vector<std::string>{"en", "zh-Hans"}));
}

TEST(TableContent, SharedLookupFollowsTheOverride) {
    auto& l10n = L10n::shared();
    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(localized("Phone Connection"), "手机连接");
    EXPECT_EQ(localizedFormat("Turn off after %d minutes without activity", {30}),
              "无活动 30 分钟后关闭");
    EXPECT_EQ(localizedFormat(
                  "Port %d was taken by another app, so it is now on port %d. Paired phones must "
                  "scan a new pairing code to reconnect.",
                  {49999, 50000}),
              "端口 49999 已被其他应用占用，现在改用端口 "
              "50000。已配对的手机需要扫描新的配对码才能重新连接。");
    EXPECT_EQ(kitLocalized(kitTextConnectionTimedOut), "连接超时");
    EXPECT_EQ(AppL10n::locale(), "zh-Hans");

    l10n.setLanguageOverride("en");
    EXPECT_EQ(localized("Phone Connection"), "Phone Connection");
    EXPECT_EQ(localizedFormat("Pair “%s”?", {"Ana’s phone"}), "Pair “Ana’s phone”?");
    EXPECT_EQ(kitLocalized(kitTextConnectionTimedOut), "The connection timed out");
    EXPECT_EQ(AppL10n::locale(), "en");

    // Test programs ignore the desktop's languages: the application shows its English source.
    l10n.setLanguageOverride(std::nullopt);
    EXPECT_EQ(localized("Phone Connection"), "Phone Connection");
    EXPECT_EQ(kitLocalized(kitTextConnectionTimedOut), "连接超时");
}

TEST(TableContent, SelfCheckReportsTheChosenTablesAndTexts) {
    auto& l10n = L10n::shared();
    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(l10nCheckReport(), "mac: " + (AppL10n::resources().folder / "zh-Hans.po").string() +
                                     "\n手机连接 / 配对新手机… / 刚刚\nkit: 电脑没有回应\n");
    l10n.setLanguageOverride("zh-Hans");
    const std::string english = "mac: " + (AppL10n::resources().folder / "en.po").string() +
                                "\nPhone Connection / Pair a New Phone… / just now\n"
                                "kit: The computer isn’t responding\n";
    EXPECT_EQ(l10nCheckReport(InterfaceLanguage::Case::english), english);
    EXPECT_EQ(l10n.languageOverride(), "en") << "the stored choice is applied first";
    // Following the system inside a test program: the source languages of both tables.
    const std::string system = l10nCheckReport(InterfaceLanguage::Case::system);
    EXPECT_EQ(system, "mac: " + (AppL10n::resources().folder / "en.po").string() +
                          "\nPhone Connection / Pair a New Phone… / just now\nkit: 电脑没有回应\n");
}

TEST(TableContent, TheEnvironmentVariableNamesTheTablesFolder) {
    const auto folder = fs::temp_directory_path() / ("l10n-env-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("MURRELO_L10N_DIR", folder.c_str(), 1);
    EXPECT_EQ(L10n::mainResourceFolder(), folder);
    ::unsetenv("MURRELO_L10N_DIR");
    EXPECT_NE(L10n::mainResourceFolder(), folder);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace kestrune
