#pragma once

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KestruneRemoteKit/L10n/TextFormat.hpp"

namespace kestrune {

struct StringTable;

// The application's text for `englishKey` in the interface language; the key itself when the
// table lacks it. Any thread.
std::string localized(std::string_view englishKey);

// The same for a text with inserted values: the key holds "%s"/"%d" (or "%1$s" when a translation
// must reorder them) where the values go, e.g.
//   localizedFormat("Turn off after %d minutes without activity", {30}).
std::string localizedFormat(std::string_view englishFormatKey,
                            std::initializer_list<FormatValue> values);

// The phone-link kit's own text: its keys are Chinese (the kit's source language is "zh-Hans"), and
// it is shown in the interface language like the application's texts.
std::string kitLocalized(std::string_view chineseKey);

// A folder of string tables, one "<language>.po" per localization (the application's or the kit's).
struct ResourceBundle {
    std::filesystem::path folder;

    // The languages that have a table here, sorted; none when the folder cannot be read.
    std::vector<std::string> localizations() const;
};

// What the choice for a resource bundle gives: one language's table, or the resource folder
// itself when no table fits (it has no texts of its own, so keys show as they are).
struct LocalizedBundle {
    std::filesystem::path path;
    std::optional<std::string> language;

    bool operator==(const LocalizedBundle&) const = default;
};

// Which table answers a lookup: the language override, else the system's languages, else the
// source language; the choice is remembered per resource bundle until the override is set again.
// One lock guards the override, the choices and the loaded tables, so lookups work from any thread.
class L10n {
  public:
    // What the choice reads from the system; tests give their own.
    struct Environment {
        // The user's languages, most wanted first (read again whenever the choices were emptied).
        std::function<std::vector<std::string>()> preferredLanguages;
        // The locale whose regional formats are in use ("en-GB"); "" when none is set.
        std::function<std::string()> currentLocale;
        // The languages the application itself has tables for.
        std::function<std::vector<std::string>()> mainLocalizations;
        // Test programs ignore the system's languages, so results do not depend on the desktop.
        bool isRunningTests = false;
    };

    // The development language of the kit's own table: its keys are Chinese texts.
    static constexpr std::string_view kSourceLanguage = "zh-Hans";
    // The application's keys are English texts.
    static constexpr std::string_view kAppSourceLanguage = "en";

    L10n(Environment environment, ResourceBundle kitResources);
    L10n(const L10n&) = delete;
    L10n& operator=(const L10n&) = delete;
    ~L10n();

    // The process-wide instance that localized() and kitLocalized() use.
    static L10n& shared();
    static Environment systemEnvironment();

    std::optional<std::string> languageOverride() const;
    // Setting, even to the same value, empties the remembered choices.
    void setLanguageOverride(std::optional<std::string> language);

    // The table of `resources` to use now, for a bundle whose keys are in `source`.
    LocalizedBundle bundle(const ResourceBundle& resources, std::string_view source);

    // The text of `key` in the table that bundle() chooses; the key itself when it has none.
    std::string string(std::string_view key, const ResourceBundle& resources,
                       std::string_view source);

    // The kit text of `key` in exactly `language` (the kit's table that best serves that single
    // preference), whatever the override; the key itself when none does.
    std::string tr(std::string_view key, std::string_view language);

    // The locale in which the kit's texts are being shown: the override's; else the current locale
    // when its language agrees with the chosen kit table's (so regional formats stay), else the
    // table's language.
    std::string locale();

    const ResourceBundle& kitResources() const { return kitResources_; }

    // `folder`/`name` when the folder is given and holds it; otherwise what `fallback` gives.
    static ResourceBundle resources(std::string_view name,
                                    const std::optional<std::filesystem::path>& folder,
                                    const std::function<ResourceBundle()>& fallback);

    // Where the installed tables are, first match wins:
    //   1. the folder named by MURRELO_L10N_DIR (`overrideFolder`), when set;
    //   2. "<executable's folder>/../share/murrelo/l10n", so a relocated prefix finds its own;
    //   3. the configured installation folder.
    // None when no candidate is a folder; the build tree's tables are then the fallback.
    static std::optional<std::filesystem::path> findResourceFolder(
        const char* overrideFolder, const std::filesystem::path& executable,
        const std::filesystem::path& installFolder);
    static std::optional<std::filesystem::path> mainResourceFolder();
    // The tables in the source tree, used when running from the build tree.
    static std::filesystem::path buildTreeResourceFolder();

  private:
    std::string pick(const ResourceBundle& resources, std::string_view source);
    std::shared_ptr<const StringTable> tableFor(const LocalizedBundle& bundle);
    std::string lookup(std::string_view key, const LocalizedBundle& bundle);

    Environment environment_;
    ResourceBundle kitResources_;
    mutable std::mutex mutex_;
    std::optional<std::string> languageOverride_;
    std::map<std::filesystem::path, LocalizedBundle> cache_;
    std::map<std::filesystem::path, std::shared_ptr<const StringTable>> tables_;
};

}  // namespace kestrune
