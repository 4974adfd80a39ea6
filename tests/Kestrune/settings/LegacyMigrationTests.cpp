#include <gtest/gtest.h>

#include <mutex>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/LLMKeyStore.hpp"
#include "Kestrune/settings/LegacyMigration.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using testing::TemporaryDirectory;

constexpr std::string_view kNewDomain = "zz.holvanis.murrelo";
constexpr std::string_view kKey = "sk-legacy-7f3a";

// Collects every log line while alive.
class LogCapture {
  public:
    LogCapture() {
        setLogSink([this](LogLevel, std::string_view category, std::string_view message) {
            std::lock_guard lock(mutex_);
            lines_.push_back(std::string(category) + ": " + std::string(message));
        });
    }
    ~LogCapture() { setLogSink({}); }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

class LegacyMigrationTest : public ::testing::Test {
  protected:
    LegacyMigrationTest() {
        migration.oldDefaults = defaults;
        migration.oldDomainName = std::string(LegacyMigration::kOldDomainName);
        migration.newDefaults = defaults;
        migration.oldDirectory = data / "Kestrune";
        migration.newDirectory = data / "Murrelo";
        migration.fileManager = LegacyMigration::FileManager::live();
        migration.keyStore = keyStore;
    }
    ~LegacyMigrationTest() override {
        // Whatever happened, the key never reached a log line.
        for (const auto& line : logs.lines()) EXPECT_EQ(line.find(kKey), std::string::npos) << line;
    }

    void writeOldDomain(std::string_view json) {
        ASSERT_TRUE(writeFileAtomically(
            config / (std::string(LegacyMigration::kOldDomainName) + ".json"), json));
    }
    void makeOldCertificate() {
        ASSERT_TRUE(writeFileAtomically(data / "Kestrune/Remote/cert.der", "DER"));
    }
    std::string newFileText() const {
        return readWholeFile(config / (std::string(kNewDomain) + ".json")).value_or("");
    }
    std::optional<DefaultsDictionary> oldDomain() const {
        return defaults->persistentDomain(LegacyMigration::kOldDomainName);
    }

    TemporaryDirectory root{"murrelo-settings"};
    std::filesystem::path config = root / "config";
    std::filesystem::path data = root / "data";
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(config, std::string(kNewDomain));
    std::shared_ptr<InMemoryLLMKeyStore> keyStore = std::make_shared<InMemoryLLMKeyStore>();
    LegacyMigration migration;
    LogCapture logs;
};

TEST_F(LegacyMigrationTest, RunsOnceEvenWhenThereIsNothingToImport) {
    writeOldDomain(R"({"selectedLanguage": "en-US", "llmModel": "old-model"})");
    EXPECT_TRUE(migration.runIfNeeded());
    EXPECT_EQ(defaults->object("selectedLanguage"), std::nullopt)
        << "without a certificate or a key only the earlier edition wrote, nothing is copied";
    EXPECT_EQ(defaults->object("triggerKey"), std::nullopt);
    EXPECT_EQ(defaults->boolean("migratedFromKestrune"), true);

    writeOldDomain(R"({"remoteInputEnabled": true})");
    EXPECT_FALSE(migration.runIfNeeded());
    EXPECT_EQ(defaults->object("remoteInputEnabled"), std::nullopt);
}

TEST_F(LegacyMigrationTest, CopiesWithoutOverwritingAndKeepsTheFnTrigger) {
    writeOldDomain(R"({"remoteInputPort": 8443, "selectedLanguage": "en-US",
                       "llmModel": "old", "receivedComputerPushIDs": ["a", "b"]})");
    defaults->set("llmModel", std::string("new"));
    EXPECT_TRUE(migration.runIfNeeded());
    EXPECT_EQ(defaults->integer("remoteInputPort"), 8443);
    EXPECT_EQ(defaults->string("selectedLanguage"), "en-US");
    EXPECT_EQ(defaults->string("llmModel"), "new");
    EXPECT_EQ(defaults->stringList("receivedComputerPushIDs"), (StringList{"a", "b"}));
    EXPECT_EQ(defaults->string("triggerKey"), "modifier:63");
    // The old settings stay where they were (nothing secret in them).
    EXPECT_EQ(oldDomain()->count("selectedLanguage"), 1u);
}

TEST_F(LegacyMigrationTest, AnExistingOrCopiedTriggerKeyIsKept) {
    makeOldCertificate();
    defaults->set("triggerKey", std::string("key:96"));
    writeOldDomain(R"({"triggerKey": "modifier:62"})");
    migration.runIfNeeded();
    EXPECT_EQ(defaults->string("triggerKey"), "key:96");

    TemporaryDirectory other{"murrelo-settings"};
    auto fresh = std::make_shared<UserDefaults>(other.path(), std::string(kNewDomain));
    fresh->setPersistentDomain(
        {{"triggerKey", std::string("modifier:62")}, {"settingsLastPane", std::string("phone")}},
        LegacyMigration::kOldDomainName);
    auto second = migration;
    second.oldDefaults = second.newDefaults = fresh;
    second.runIfNeeded();
    EXPECT_EQ(fresh->string("triggerKey"), "modifier:62");
}

TEST_F(LegacyMigrationTest, TheDataFolderMovesOnlyWhenTheNewOneIsMissing) {
    makeOldCertificate();
    EXPECT_TRUE(migration.runIfNeeded());
    EXPECT_FALSE(std::filesystem::exists(data / "Kestrune"));
    EXPECT_EQ(readWholeFile(data / "Murrelo/Remote/cert.der"), "DER");

    TemporaryDirectory other{"murrelo-settings"};
    auto fresh = std::make_shared<UserDefaults>(other.path(), std::string(kNewDomain));
    auto second = migration;
    second.oldDefaults = second.newDefaults = fresh;
    second.oldDirectory = other / "Kestrune";
    second.newDirectory = other / "Murrelo";
    ASSERT_TRUE(writeFileAtomically(other / "Kestrune/Remote/cert.der", "OLD"));
    ASSERT_TRUE(writeFileAtomically(other / "Murrelo/Remote/cert.der", "NEW"));
    EXPECT_TRUE(second.runIfNeeded());
    EXPECT_EQ(readWholeFile(other / "Murrelo/Remote/cert.der"), "NEW");
    EXPECT_EQ(readWholeFile(other / "Kestrune/Remote/cert.der"), "OLD");
}

TEST_F(LegacyMigrationTest, AFailedMoveIsLoggedAndIgnored) {
    makeOldCertificate();
    writeOldDomain(R"({"interfaceLanguage": "en"})");
    migration.fileManager.moveItem = [](const auto&,
                                        const auto&) -> LegacyMigration::FileManager::Done {
        return std::string("disk on fire");
    };
    EXPECT_TRUE(migration.runIfNeeded());
    EXPECT_EQ(defaults->string("interfaceLanguage"), "en");
    EXPECT_EQ(defaults->boolean("migratedFromKestrune"), true);
    const auto lines = logs.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "migration: Murrelo: could not migrate data directory: disk on fire"),
              lines.end());

    auto failingCreate = migration;
    failingCreate.newDefaults = failingCreate.oldDefaults =
        std::make_shared<UserDefaults>(root / "other", std::string(kNewDomain));
    failingCreate.fileManager.createDirectories =
        [](const auto&) -> LegacyMigration::FileManager::Done { return std::string("read-only"); };
    bool moved = false;
    failingCreate.fileManager.moveItem = [&](const auto&,
                                             const auto&) -> LegacyMigration::FileManager::Done {
        moved = true;
        return {};
    };
    EXPECT_TRUE(failingCreate.runIfNeeded());
    EXPECT_FALSE(moved) << "no move into a parent that could not be made";
}

TEST_F(LegacyMigrationTest, APlainTextKeyGoesStraightToTheKeyStoreAndLeavesTheOldSettings) {
    writeOldDomain(R"({"settingsLastPane": "llm", "llmAPIKey": "sk-legacy-7f3a"})");
    EXPECT_TRUE(migration.runIfNeeded());
    EXPECT_EQ(keyStore->value, kKey);
    EXPECT_EQ(oldDomain()->count("llmAPIKey"), 0u);
    EXPECT_EQ(oldDomain()->count("settingsLastPane"), 1u);
    EXPECT_EQ(newFileText().find(kKey), std::string::npos);

    // The store's first load then finds the key where it belongs, and none on disk.
    ManualMainQueue queue;
    SettingsStore store(defaults, keyStore, std::make_shared<InMemoryLLMKeyStore>(), queue);
    EXPECT_EQ(store.llmAPIKey().value(), kKey);
    EXPECT_EQ(newFileText().find(kKey), std::string::npos);
    EXPECT_EQ(newFileText().find("llmAPIKey"), std::string::npos);
}

TEST_F(LegacyMigrationTest, AKeyAlreadyInTheKeyStoreIsNotOverwritten) {
    keyStore->value = "sk-current";
    writeOldDomain(R"({"settingsLastPane": "llm", "llmAPIKey": "sk-legacy-7f3a"})");
    migration.runIfNeeded();
    EXPECT_EQ(keyStore->value, "sk-current");
    EXPECT_EQ(oldDomain()->count("llmAPIKey"), 0u);
    EXPECT_EQ(newFileText().find(kKey), std::string::npos);
}

TEST_F(LegacyMigrationTest, WithoutAWorkingKeyStoreTheKeyWaitsInTheNewSettings) {
    keyStore->failWrites = true;
    writeOldDomain(R"({"settingsLastPane": "llm", "llmAPIKey": "sk-legacy-7f3a"})");
    migration.runIfNeeded();
    EXPECT_EQ(defaults->string("llmAPIKey"), kKey);
    EXPECT_EQ(oldDomain()->count("llmAPIKey"), 0u);

    // Once a key store works, the next start moves it and the settings file is clean.
    keyStore->failWrites = false;
    ManualMainQueue queue;
    SettingsStore store(defaults, keyStore, std::make_shared<InMemoryLLMKeyStore>(), queue);
    EXPECT_EQ(keyStore->value, kKey);
    EXPECT_EQ(newFileText().find(kKey), std::string::npos);
}

TEST_F(LegacyMigrationTest, NoOldDatabaseMeansAnEmptyOldDomain) {
    migration.oldDefaults = nullptr;
    makeOldCertificate();
    EXPECT_TRUE(migration.runIfNeeded());
    EXPECT_EQ(defaults->string("triggerKey"), "modifier:63");
    EXPECT_TRUE(std::filesystem::exists(data / "Murrelo/Remote/cert.der"));
}

TEST(LegacyMigrationLive, UsesTheXdgFoldersAndTheEarlierDomain) {
    TemporaryDirectory home{"murrelo-settings"};
    ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    auto keyStore = std::make_shared<InMemoryLLMKeyStore>();
    const auto settings =
        std::make_shared<UserDefaults>(home.path(), std::string(UserDefaults::kStandardDomain));
    const auto live = LegacyMigration::live(settings, keyStore);
    EXPECT_EQ(live.oldDomainName, "zz.pellam.kestrune");
    EXPECT_EQ(live.oldDirectory, home.path() / "Kestrune");
    EXPECT_EQ(live.newDirectory, home.path() / "Murrelo");
    EXPECT_EQ(live.oldDefaults, live.newDefaults);
    EXPECT_EQ(live.newDefaults->domain(), "zz.holvanis.murrelo");
    EXPECT_EQ(live.keyStore, keyStore);
}

}  // namespace
}  // namespace kestrune
