#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class LLMKeyStore;
class UserDefaults;

// The one-time import of the settings and data that the earlier edition of the application kept
// under its own name. Runs at start, before anything reads the settings; never overwrites.
struct LegacyMigration {
    // The file operations the move of the data folder needs; each failure comes back as text.
    struct FileManager {
        using Done = Result<void, std::string>;
        std::function<bool(const std::filesystem::path&)> fileExists;
        std::function<Done(const std::filesystem::path&)> createDirectories;
        std::function<Done(const std::filesystem::path& from, const std::filesystem::path& to)>
            moveItem;

        static FileManager live();
    };

    static constexpr std::string_view kOldDomainName = "zz.pellam.kestrune";
    static constexpr std::string_view kMigratedKey = "migratedFromKestrune";
    static constexpr std::string_view kCertificateInOldDirectory = "Remote/cert.der";
    static constexpr std::string_view kMigratedTriggerKey = "modifier:63";
    // Settings only the earlier edition wrote; finding one means it was really used.
    static constexpr std::array<std::string_view, 10> kForkOnlyKeys = {
        "sendToPhoneHotKey",
        "interfaceLanguage",
        "remoteInputEnabled",
        "remoteInputPort",
        "remoteInputUsePaste",
        "remoteInputIdleTimeoutEnabled",
        "remoteSendOriginalImagesToPhone",
        "remoteImageSaveDestination",
        "remoteImageSaveFolder",
        "settingsLastPane"};

    std::shared_ptr<UserDefaults> oldDefaults;  // may be null: nothing to read
    std::string oldDomainName;
    std::shared_ptr<UserDefaults> newDefaults;
    std::filesystem::path oldDirectory;
    std::filesystem::path newDirectory;
    FileManager fileManager;
    // Where a plain-text API key of the old settings goes, so it is never copied into the new
    // settings file while a key store takes it.
    std::shared_ptr<LLMKeyStore> keyStore;

    // The application's settings database (whose folder also holds the earlier edition's domain)
    // and the data folders "Kestrune" and "Murrelo" under $XDG_DATA_HOME; the database and the key
    // store are the application's (the composition root makes both).
    static LegacyMigration live(std::shared_ptr<UserDefaults> defaults,
                                std::shared_ptr<LLMKeyStore> keyStore);

    // True when the check ran now; false when it had already run in an earlier start.
    bool runIfNeeded() const;
};

}  // namespace kestrune
