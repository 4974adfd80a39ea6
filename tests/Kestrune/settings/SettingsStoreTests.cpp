#include <gtest/gtest.h>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using testing::TemporaryDirectory;
namespace keys = settings_keys;

constexpr std::string_view kDomain = "zz.holvanis.murrelo";

class SettingsStoreTest : public ::testing::Test {
  protected:
    std::shared_ptr<UserDefaults> defaults() {
        if (!defaults_)
            defaults_ = std::make_shared<UserDefaults>(dir.path(), std::string(kDomain));
        return defaults_;
    }
    std::unique_ptr<SettingsStore> makeStore(std::string desktopLocale = "en_US.UTF-8") {
        return std::make_unique<SettingsStore>(defaults(), keyStore, transcriptionKeyStore, queue,
                                               [desktopLocale] { return desktopLocale; });
    }
    void writeFile(std::string_view json) { ASSERT_TRUE(writeFileAtomically(file(), json)); }
    std::filesystem::path file() const { return dir / (std::string(kDomain) + ".json"); }
    std::string fileText() const { return readWholeFile(file()).value_or(""); }
    // What a later start would read.
    UserDefaults reopened() const { return UserDefaults(dir.path(), std::string(kDomain)); }

    TemporaryDirectory dir{"murrelo-settings"};
    std::shared_ptr<InMemoryLLMKeyStore> keyStore = std::make_shared<InMemoryLLMKeyStore>();
    std::shared_ptr<InMemoryLLMKeyStore> transcriptionKeyStore =
        std::make_shared<InMemoryLLMKeyStore>();
    ManualMainQueue queue;

  private:
    std::shared_ptr<UserDefaults> defaults_;
};

TEST_F(SettingsStoreTest, AFreshInstallationReadsTheDefaultsAndWritesNothing) {
    const auto store = makeStore();
    EXPECT_EQ(store->selectedLanguage().value(), AppLanguage::english);
    EXPECT_EQ(store->triggerKey().value(), TriggerKey::modifier(61));
    EXPECT_EQ(store->triggerKey().value().persistedValue(), "modifier:61");
    EXPECT_FALSE(store->llmEnabled().value());
    EXPECT_EQ(store->llmModel().value(), "gpt-4.1-mini");
    EXPECT_EQ(store->llmAPIKey().value(), "");
    EXPECT_EQ(store->sendToPhoneHotKey().value(), std::nullopt);
    const auto& url = store->llmBaseURL().value();
    EXPECT_EQ(url.rfind("https://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 3), "/v1");
    EXPECT_FALSE(std::filesystem::exists(file()));
}

// Until the user picks a language, dictation follows the desktop's; once picked, it stays.
TEST_F(SettingsStoreTest, TheLanguageFollowsTheDesktopLocaleUntilOneIsChosen) {
    EXPECT_EQ(makeStore("zh_TW.UTF-8")->selectedLanguage().value(),
              AppLanguage::traditionalChinese);
    EXPECT_EQ(makeStore("zh_CN.UTF-8")->selectedLanguage().value(), AppLanguage::simplifiedChinese);
    EXPECT_FALSE(std::filesystem::exists(file())) << "a default is never stored";
    makeStore("zh_CN.UTF-8")->setSelectedLanguage(AppLanguage::korean);
    EXPECT_EQ(makeStore("en_US.UTF-8")->selectedLanguage().value(), AppLanguage::korean);
    EXPECT_EQ(reopened().string(keys::selectedLanguage), "ko-KR");
}

TEST_F(SettingsStoreTest, MalformedStoredValuesFallBackWithoutFailingTheLoad) {
    writeFile(R"({
        "selectedLanguage": "fr-FR",
        "triggerKey": "modifier:abc",
        "llmEnabled": "true",
        "llmBaseURL": 42,
        "llmModel": ["gpt"],
        "sendToPhoneHotKey": "hotkey:9:1048576"
    })");
    const auto store = makeStore("ja_JP.UTF-8");
    EXPECT_EQ(store->selectedLanguage().value(), AppLanguage::japanese);
    EXPECT_EQ(store->triggerKey().value(), TriggerKey::modifier(61));
    EXPECT_FALSE(store->llmEnabled().value());
    EXPECT_EQ(store->llmBaseURL().value(), SettingsStore::kDefaultBaseURL);
    EXPECT_EQ(store->llmModel().value(), "gpt-4.1-mini");
    // Ctrl+V is refused: the shortcut loads as none and the stored text is deleted.
    EXPECT_EQ(store->sendToPhoneHotKey().value(), std::nullopt);
    EXPECT_EQ(reopened().object(keys::sendToPhoneHotKey), std::nullopt);
    // Other malformed values stay as they were; only the shortcut is written back at load.
    EXPECT_EQ(reopened().string(keys::selectedLanguage), "fr-FR");
}

TEST_F(SettingsStoreTest, StoredValuesLoadAndAValidShortcutIsRewrittenCanonically) {
    writeFile(R"({
        "selectedLanguage": "ko-KR",
        "triggerKey": "key:96",
        "llmEnabled": true,
        "llmBaseURL": " https://llm.example/api/ ",
        "llmModel": "small-model",
        "sendToPhoneHotKey": "hotkey::40::1179649"
    })");
    const auto store = makeStore();
    EXPECT_EQ(store->selectedLanguage().value(), AppLanguage::korean);
    EXPECT_EQ(store->triggerKey().value(), TriggerKey::dedicatedKey(96));
    EXPECT_TRUE(store->llmEnabled().value());
    EXPECT_EQ(store->llmBaseURL().value(), " https://llm.example/api/ ");
    EXPECT_EQ(store->llmModel().value(), "small-model");
    ASSERT_TRUE(store->sendToPhoneHotKey().value().has_value());
    EXPECT_EQ(store->sendToPhoneHotKey().value()->keyCode, 40);
    EXPECT_EQ(reopened().string(keys::sendToPhoneHotKey), "hotkey:40:1179648");
}

TEST_F(SettingsStoreTest, EveryChangeIsWrittenThroughAtOnce) {
    auto store = makeStore();
    store->setSelectedLanguage(AppLanguage::japanese);
    store->setTriggerKey(TriggerKey::modifier(63));
    store->setLLMEnabled(true);
    store->setLLMBaseURL("  http://127.0.0.1:8080/v1  ");
    store->setLLMModel("m");
    store->setSendToPhoneHotKey(GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::shift));

    auto later = reopened();
    EXPECT_EQ(later.string(keys::selectedLanguage), "ja-JP");
    EXPECT_EQ(later.string(keys::triggerKey), "modifier:63");
    EXPECT_EQ(later.boolean(keys::llmEnabled), true);
    EXPECT_EQ(later.string(keys::llmBaseURL), "  http://127.0.0.1:8080/v1  ");
    EXPECT_EQ(later.string(keys::llmModel), "m");
    EXPECT_EQ(later.string(keys::sendToPhoneHotKey), "hotkey:40:1179648");

    store->setSendToPhoneHotKey(std::nullopt);
    EXPECT_EQ(reopened().object(keys::sendToPhoneHotKey), std::nullopt);

    store.reset();
    const auto next = makeStore();
    EXPECT_EQ(next->selectedLanguage().value(), AppLanguage::japanese);
    EXPECT_EQ(next->llmConfiguration(),
              (LLMConfiguration{"  http://127.0.0.1:8080/v1  ", "", "m", true}));
}

TEST_F(SettingsStoreTest, TheAPIKeyGoesToTheKeyStoreOnlyAndAFailureIsReported) {
    auto store = makeStore();
    store->setLLMAPIKey("sk-secret-value");
    EXPECT_EQ(keyStore->value, "sk-secret-value");
    EXPECT_EQ(store->llmAPIKey().value(), "sk-secret-value");
    EXPECT_EQ(store->keyStoreFailure().value(), std::nullopt);

    keyStore->failWrites = true;
    store->setLLMAPIKey("sk-second");
    EXPECT_EQ(store->llmAPIKey().value(), "sk-second") << "kept for this run";
    EXPECT_EQ(keyStore->value, "sk-secret-value");
    ASSERT_TRUE(store->keyStoreFailure().value().has_value());
    EXPECT_FALSE(store->keyStoreFailure().value()->empty());

    keyStore->failWrites = false;
    store->setLLMAPIKey("");
    EXPECT_EQ(keyStore->value, std::nullopt) << "an empty key deletes it";
    EXPECT_EQ(store->keyStoreFailure().value(), std::nullopt);

    EXPECT_EQ(fileText().find("sk-"), std::string::npos);
}

TEST_F(SettingsStoreTest, ALegacyKeyInTheDatabaseMovesToAWorkingKeyStore) {
    writeFile(R"({"llmAPIKey": "sk-legacy"})");
    const auto store = makeStore();
    EXPECT_EQ(store->llmAPIKey().value(), "sk-legacy");
    EXPECT_EQ(keyStore->value, "sk-legacy");
    EXPECT_EQ(reopened().object(keys::legacyLLMAPIKey), std::nullopt);
    EXPECT_EQ(fileText().find("sk-legacy"), std::string::npos);
}

TEST_F(SettingsStoreTest, ALegacyKeyStaysForTheNextStartWhenTheKeyStoreFails) {
    writeFile(R"({"llmAPIKey": "sk-legacy"})");
    keyStore->failWrites = true;
    keyStore->value = "sk-older";
    const auto store = makeStore();
    EXPECT_EQ(store->llmAPIKey().value(), "sk-legacy");
    EXPECT_EQ(reopened().string(keys::legacyLLMAPIKey), "sk-legacy");
    EXPECT_TRUE(store->keyStoreFailure().value().has_value());
}

TEST_F(SettingsStoreTest, WithoutALegacyKeyTheKeyStoreIsRead) {
    writeFile(R"({"llmAPIKey": ""})");
    keyStore->value = "sk-stored";
    EXPECT_EQ(makeStore()->llmAPIKey().value(), "sk-stored");
}

TEST_F(SettingsStoreTest, TranscriptionSettingsLoadWriteThroughAndKeepTheirKeyApart) {
    writeFile(R"({"speechEngine": "sideways", "transcriptionModel": "whisper-large"})");
    transcriptionKeyStore->value = "sk-transcribe";
    auto store = makeStore();
    EXPECT_EQ(store->speechEngine().value(), SpeechEnginePreference::automatic);
    EXPECT_EQ(store->transcriptionBaseURL().value(), "https://api.openai.com/v1");
    EXPECT_EQ(store->transcriptionModel().value(), "whisper-large");
    EXPECT_EQ(store->transcriptionAPIKey().value(), "sk-transcribe");
    EXPECT_EQ(store->llmAPIKey().value(), "");

    store->setSpeechEngine(SpeechEnginePreference::builtIn);
    store->setTranscriptionBaseURL("http://127.0.0.1:9/v1");
    store->setTranscriptionAPIKey("sk-other");
    EXPECT_EQ(transcriptionKeyStore->value, "sk-other");
    EXPECT_EQ(keyStore->value, std::nullopt);
    const auto reread = reopened();
    EXPECT_EQ(reread.string(keys::speechEngine), "builtIn");
    EXPECT_EQ(reread.string(keys::transcriptionBaseURL), "http://127.0.0.1:9/v1");
    EXPECT_EQ(fileText().find("sk-other"), std::string::npos);

    transcriptionKeyStore->failWrites = true;
    store->setTranscriptionAPIKey("sk-third");
    EXPECT_TRUE(store->keyStoreFailure().value().has_value());
}

TEST_F(SettingsStoreTest, ValueStreamsYieldTheCurrentValueFirstAndWillChangeComesBefore) {
    auto store = makeStore("zh_CN.UTF-8");
    std::vector<AppLanguage> languages;
    auto languageSubscription =
        store->selectedLanguage().subscribe([&](AppLanguage l) { languages.push_back(l); });
    std::vector<AppLanguage> seenAtWillChange;
    auto willChange = store->observeWillChange(
        [&] { seenAtWillChange.push_back(store->selectedLanguage().value()); });

    store->setSelectedLanguage(AppLanguage::english);
    EXPECT_EQ(languages,
              (std::vector<AppLanguage>{AppLanguage::simplifiedChinese, AppLanguage::english}));
    EXPECT_EQ(seenAtWillChange, std::vector<AppLanguage>{AppLanguage::simplifiedChinese});
}

TEST_F(SettingsStoreTest, MenuChangesFireOncePerMenuRelevantChangeOnTheMainQueue) {
    auto store = makeStore();
    int fired = 0;
    auto subscription = store->observeMenuChanges([&] { ++fired; });
    queue.runUntilIdle();
    EXPECT_EQ(fired, 0) << "subscribing alone is not a change";

    store->setSelectedLanguage(AppLanguage::english);
    EXPECT_EQ(fired, 0) << "delivered through the main queue, not inside the setter";
    queue.runUntilIdle();
    EXPECT_EQ(fired, 1);

    store->setLLMEnabled(true);
    store->setTriggerKey(TriggerKey::dedicatedKey(96));
    queue.runUntilIdle();
    EXPECT_EQ(fired, 3);

    store->setSendToPhoneHotKey(GlobalHotKey(40, GlobalHotKey::command));
    store->setLLMModel("other");
    store->setLLMBaseURL("https://x/v1");
    queue.runUntilIdle();
    EXPECT_EQ(fired, 3) << "the shortcut and the refinement fields are not in the menu";

    store->setLLMEnabled(false);
    subscription.reset();
    queue.runUntilIdle();
    EXPECT_EQ(fired, 3) << "an event posted before unsubscribing is not delivered after";
}

TEST_F(SettingsStoreTest, MenuChangesOutliveNeitherTheStoreNorTheSubscription) {
    auto store = makeStore();
    int fired = 0;
    auto subscription = store->observeMenuChanges([&] { ++fired; });
    store->setLLMEnabled(true);
    store.reset();
    queue.runUntilIdle();
    EXPECT_EQ(fired, 1) << "a change made before the store went is still delivered";
    subscription.reset();
}

}  // namespace
}  // namespace kestrune
