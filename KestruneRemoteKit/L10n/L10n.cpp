#include "KestruneRemoteKit/L10n/L10n.hpp"

#include <algorithm>
#include <cstdlib>

#include "KestruneRemoteKit/L10n/AppL10n.hpp"
#include "KestruneRemoteKit/L10n/LanguageMatch.hpp"
#include "KestruneRemoteKit/L10n/StringTable.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

// A GoogleTest program always contains its unit-test registry; the application never does. The weak
// reference resolves to null unless that registry is linked in.
extern "C" void kestruneTestRegistryProbe() __asm__("_ZN7testing8UnitTest11GetInstanceEv")
    __attribute__((weak));

namespace kestrune {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTableExtension = ".po";
constexpr const char* kResourceFolderVariable = "MURRELO_L10N_DIR";

const char* firstSetVariable(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return nullptr;
}

std::vector<std::string> systemPreferredLanguages() {
    const char* messages = firstSetVariable({"LC_ALL", "LC_MESSAGES", "LANG"});
    const char* list = std::getenv("LANGUAGE");
    return userLanguages(list ? list : "", messages ? messages : "");
}

std::string systemCurrentLocale() {
    const char* formats = firstSetVariable({"LC_ALL", "LC_TIME", "LANG"});
    return formats ? languageIdentifierFromPosix(formats).value_or("") : "";
}

bool isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

fs::path tablePath(const ResourceBundle& resources, std::string_view language) {
    return resources.folder / (std::string(language) + std::string(kTableExtension));
}

}  // namespace

std::vector<std::string> ResourceBundle::localizations() const {
    std::vector<std::string> languages;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == kTableExtension && it->is_regular_file(ec)) {
            languages.push_back(it->path().stem().string());
        }
    }
    std::sort(languages.begin(), languages.end());
    return languages;
}

L10n::L10n(Environment environment, ResourceBundle kitResources)
    : environment_(std::move(environment)), kitResources_(std::move(kitResources)) {}

L10n::~L10n() = default;

L10n::Environment L10n::systemEnvironment() {
    static const bool isRunningTests = kestruneTestRegistryProbe != nullptr;
    return Environment{
        .preferredLanguages = systemPreferredLanguages,
        .currentLocale = systemCurrentLocale,
        .mainLocalizations = [] { return AppL10n::resources().localizations(); },
        .isRunningTests = isRunningTests,
    };
}

L10n& L10n::shared() {
    static L10n instance(systemEnvironment(), resources("kit", mainResourceFolder(), [] {
                             return ResourceBundle{buildTreeResourceFolder() / "kit"};
                         }));
    return instance;
}

std::optional<std::string> L10n::languageOverride() const {
    std::lock_guard lock(mutex_);
    return languageOverride_;
}

void L10n::setLanguageOverride(std::optional<std::string> language) {
    std::lock_guard lock(mutex_);
    languageOverride_ = std::move(language);
    cache_.clear();
}

std::string L10n::pick(const ResourceBundle& resources, std::string_view source) {
    std::vector<std::string> preferences;
    if (languageOverride_) {
        preferences = {*languageOverride_};
    } else {
        const auto mainLocalizations = environment_.isRunningTests
                                           ? std::vector<std::string>{}
                                           : environment_.mainLocalizations();
        const bool mainIsLocalized = std::any_of(mainLocalizations.begin(), mainLocalizations.end(),
                                                 [](const std::string& l) { return l != "Base"; });
        if (mainIsLocalized) {
            // The system's choice for the program: its best table for the user's languages, else
            // the program's development language.
            preferences =
                preferredLocalizations(mainLocalizations, environment_.preferredLanguages());
            if (preferences.empty()) preferences = {std::string(kAppSourceLanguage)};
        } else {
            preferences = {std::string(source)};
        }
    }
    const auto chosen = preferredLocalizations(resources.localizations(), preferences);
    return chosen.empty() ? std::string(source) : chosen.front();
}

LocalizedBundle L10n::bundle(const ResourceBundle& resources, std::string_view source) {
    std::lock_guard lock(mutex_);
    if (const auto found = cache_.find(resources.folder); found != cache_.end())
        return found->second;
    const std::string language = pick(resources, source);
    const auto table = tablePath(resources, language);
    std::error_code ec;
    LocalizedBundle result = fs::is_regular_file(table, ec)
                                 ? LocalizedBundle{table, language}
                                 : LocalizedBundle{resources.folder, std::nullopt};
    cache_.emplace(resources.folder, result);
    return result;
}

std::shared_ptr<const StringTable> L10n::tableFor(const LocalizedBundle& bundle) {
    if (!bundle.language) return nullptr;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = tables_.find(bundle.path); found != tables_.end())
            return found->second;
    }
    // Read outside the lock: a slow disk must not hold up lookups in tables already loaded.
    auto loaded = loadStringTable(bundle.path);
    std::shared_ptr<const StringTable> table;
    if (loaded.ok()) table = std::make_shared<const StringTable>(std::move(loaded).value());
    bool first;
    {
        std::lock_guard lock(mutex_);
        const auto [entry, inserted] = tables_.emplace(bundle.path, table);
        first = inserted;
        table = entry->second;
    }
    // Remembered even when broken, so it is reported once; its keys then show as they are.
    if (first && !loaded.ok()) log(LogLevel::error, "l10n", loaded.error());
    return table;
}

std::string L10n::lookup(std::string_view key, const LocalizedBundle& bundle) {
    const auto table = tableFor(bundle);
    if (table) {
        if (const std::string* text = table->find(key)) return *text;
    }
    return std::string(key);
}

std::string L10n::string(std::string_view key, const ResourceBundle& resources,
                         std::string_view source) {
    return lookup(key, bundle(resources, source));
}

std::string L10n::tr(std::string_view key, std::string_view language) {
    const auto chosen =
        preferredLocalizations(kitResources_.localizations(), {std::string(language)});
    if (chosen.empty()) return std::string(key);
    return lookup(key, LocalizedBundle{tablePath(kitResources_, chosen.front()), chosen.front()});
}

std::string L10n::locale() {
    if (auto language = languageOverride()) return *language;
    const auto kit = bundle(kitResources_, kSourceLanguage);
    const std::string candidate = kit.language.value_or(std::string(kSourceLanguage));
    const std::string current = environment_.currentLocale();
    const auto currentLanguage = languageCode(current);
    const auto candidateLanguage = languageCode(candidate);
    if (currentLanguage == candidateLanguage) return current;
    return candidate;
}

ResourceBundle L10n::resources(std::string_view name, const std::optional<fs::path>& folder,
                               const std::function<ResourceBundle()>& fallback) {
    if (folder && isDirectory(*folder / name)) return ResourceBundle{*folder / name};
    return fallback();
}

std::optional<fs::path> L10n::findResourceFolder(const char* overrideFolder,
                                                 const fs::path& executable,
                                                 const fs::path& installFolder) {
    if (overrideFolder && *overrideFolder) {
        return isDirectory(overrideFolder) ? std::optional<fs::path>(overrideFolder) : std::nullopt;
    }
    if (!executable.empty()) {
        const auto beside = executable.parent_path() / ".." / "share" / "murrelo" / "l10n";
        if (isDirectory(beside)) return beside.lexically_normal();
    }
    if (isDirectory(installFolder)) return installFolder;
    return std::nullopt;
}

std::optional<fs::path> L10n::mainResourceFolder() {
    std::error_code ec;
    const auto executable = fs::read_symlink("/proc/self/exe", ec);
    return findResourceFolder(std::getenv(kResourceFolderVariable), ec ? fs::path() : executable,
                              MURRELO_L10N_INSTALL_DIR);
}

fs::path L10n::buildTreeResourceFolder() {
    return MURRELO_L10N_BUILD_TREE_DIR;
}

std::string kitLocalized(std::string_view chineseKey) {
    auto& l10n = L10n::shared();
    return l10n.string(chineseKey, l10n.kitResources(), L10n::kSourceLanguage);
}

}  // namespace kestrune
