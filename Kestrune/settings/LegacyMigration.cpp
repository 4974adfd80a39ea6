#include "Kestrune/settings/LegacyMigration.hpp"

#include <algorithm>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/defaults/XdgDirectories.hpp"
#include "Kestrune/settings/LLMKeyStore.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "migration";

bool containsForkOnlyKey(const DefaultsDictionary& domain) {
    return std::any_of(LegacyMigration::kForkOnlyKeys.begin(), LegacyMigration::kForkOnlyKeys.end(),
                       [&](std::string_view key) { return domain.count(key) > 0; });
}

// Moves a plain-text key of the old settings into the key store, unless the store already has
// one. When no key store takes it, the key goes to the new settings instead, where every start
// tries again to move it (and the old edition's copy is gone either way).
void migrateAPIKey(const LegacyMigration& migration, const DefaultsValue& value) {
    const auto* key = std::get_if<std::string>(&value);
    if (!key || key->empty()) return;
    if (migration.keyStore) {
        if (auto existing = migration.keyStore->read(); existing && !existing->empty()) return;
        const auto written = migration.keyStore->write(*key);
        if (written) return;
        log(LogLevel::warning, kLogCategory,
            "the API key stays in the settings file until a key store takes it: " +
                written.error());
    }
    if (!migration.newDefaults->object(settings_keys::legacyLLMAPIKey)) {
        migration.newDefaults->set(settings_keys::legacyLLMAPIKey, *key);
    }
}

void migrateSettings(const LegacyMigration& migration, DefaultsDictionary oldDomain) {
    auto& newDefaults = *migration.newDefaults;
    for (const auto& [key, value] : oldDomain) {
        if (key == settings_keys::legacyLLMAPIKey) continue;
        if (!newDefaults.object(key)) newDefaults.set(key, value);
    }
    // Users of the earlier edition held Fn by default; they keep it.
    if (!newDefaults.object(settings_keys::triggerKey)) {
        newDefaults.set(settings_keys::triggerKey,
                        std::string(LegacyMigration::kMigratedTriggerKey));
    }
    const auto legacyKey = oldDomain.find(settings_keys::legacyLLMAPIKey);
    if (legacyKey != oldDomain.end() && migration.oldDefaults) {
        migrateAPIKey(migration, legacyKey->second);
        // The plain-text key must not stay behind in the old settings.
        oldDomain.erase(legacyKey);
        migration.oldDefaults->setPersistentDomain(std::move(oldDomain), migration.oldDomainName);
    }
}

void migrateDirectory(const LegacyMigration& migration) {
    const auto& files = migration.fileManager;
    if (!files.fileExists(migration.oldDirectory) || files.fileExists(migration.newDirectory)) {
        return;
    }
    auto done = files.createDirectories(migration.newDirectory.parent_path());
    if (done) done = files.moveItem(migration.oldDirectory, migration.newDirectory);
    if (!done) {
        log(LogLevel::error, kLogCategory,
            "Murrelo: could not migrate data directory: " + done.error());
    }
}

}  // namespace

LegacyMigration::FileManager LegacyMigration::FileManager::live() {
    FileManager files;
    files.fileExists = [](const std::filesystem::path& path) {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    };
    files.createDirectories = [](const std::filesystem::path& path) -> FileManager::Done {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        if (ec) return "cannot create " + path.string() + ": " + ec.message();
        return {};
    };
    files.moveItem = [](const std::filesystem::path& from,
                        const std::filesystem::path& to) -> FileManager::Done {
        std::error_code ec;
        std::filesystem::rename(from, to, ec);
        if (ec) return "cannot move " + from.string() + " to " + to.string() + ": " + ec.message();
        return {};
    };
    return files;
}

LegacyMigration LegacyMigration::live(std::shared_ptr<UserDefaults> defaults,
                                      std::shared_ptr<LLMKeyStore> keyStore) {
    const auto dataHome = xdgDataHome();
    return {defaults,
            std::string(kOldDomainName),
            defaults,
            dataHome / "Kestrune",
            dataHome / "Murrelo",
            FileManager::live(),
            std::move(keyStore)};
}

bool LegacyMigration::runIfNeeded() const {
    if (newDefaults->boolean(kMigratedKey).value_or(false)) return false;
    auto oldDomain =
        oldDefaults ? oldDefaults->persistentDomain(oldDomainName).value_or(DefaultsDictionary{})
                    : DefaultsDictionary{};
    const bool wasUsed = fileManager.fileExists(oldDirectory / kCertificateInOldDirectory) ||
                         containsForkOnlyKey(oldDomain);
    if (wasUsed) {
        migrateSettings(*this, std::move(oldDomain));
        migrateDirectory(*this);
    }
    newDefaults->set(kMigratedKey, true);
    return true;
}

}  // namespace kestrune
