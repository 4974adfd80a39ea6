#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/dictation/coordinator/DictationSettings.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/dictation/refine/LLMConfiguration.hpp"
#include "Kestrune/dictation/speech/SpeechEnginePreference.hpp"
#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "Kestrune/settings/LLMKeyStore.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Published.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class UserDefaults;

// The keys of the settings database that this store reads and writes.
namespace settings_keys {
inline constexpr std::string_view selectedLanguage = "selectedLanguage";
inline constexpr std::string_view triggerKey = "triggerKey";
inline constexpr std::string_view llmEnabled = "llmEnabled";
inline constexpr std::string_view llmBaseURL = "llmBaseURL";
inline constexpr std::string_view llmModel = "llmModel";
// Only ever read: where an earlier version kept the API key in plain text.
inline constexpr std::string_view legacyLLMAPIKey = "llmAPIKey";
inline constexpr std::string_view sendToPhoneHotKey = "sendToPhoneHotKey";
inline constexpr std::string_view speechEngine = "speechEngine";
inline constexpr std::string_view transcriptionBaseURL = "transcriptionBaseURL";
inline constexpr std::string_view transcriptionModel = "transcriptionModel";
}  // namespace settings_keys

// The user's dictation settings: loaded once from the settings database, every change written
// straight back (the API key to the key store only), every change announced to observers.
// Main thread only.
class SettingsStore {
  public:
    // Runs `work` on a thread other than the main one.
    using Background = std::function<void(std::function<void()> work)>;
    // Whether the API keys are known, or why the key store could not be read.
    using KeysOutcome = Result<void, std::string>;

    // Right Alt (the right Option key code).
    static constexpr std::int64_t kDefaultTriggerKeyCode = 61;
    static constexpr std::string_view kDefaultBaseURL = "https://api.openai.com/v1";
    static constexpr std::string_view kDefaultModel = "gpt-4.1-mini";
    static constexpr std::string_view kDefaultTranscriptionBaseURL = "https://api.openai.com/v1";
    static constexpr std::string_view kDefaultTranscriptionModel = "whisper-1";

    // `transcriptionKeyStore` keeps the online recognizer's key, apart from the refinement key.
    // `desktopLocale` gives the desktop's POSIX locale for messages: while no language is stored,
    // dictation speaks the language of that locale (none: as in a locale of no listed language).
    // With `keyReader`, the API keys are read there and the store is usable at once without them
    // (a key store that does not answer must not hold up the start); without, they are read now.
    SettingsStore(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<LLMKeyStore> keyStore,
                  std::shared_ptr<LLMKeyStore> transcriptionKeyStore, MainQueue& mainQueue,
                  const std::function<std::string()>& desktopLocale = {},
                  Background keyReader = {});
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::shared_ptr<UserDefaults>& defaults() const { return defaults_; }
    const std::shared_ptr<LLMKeyStore>& keyStore() const { return keyStore_; }

    const Published<AppLanguage>& selectedLanguage() const { return selectedLanguage_; }
    const Published<TriggerKey>& triggerKey() const { return triggerKey_; }
    const Published<bool>& llmEnabled() const { return llmEnabled_; }
    const Published<std::string>& llmBaseURL() const { return llmBaseURL_; }
    const Published<std::string>& llmAPIKey() const { return llmAPIKey_; }
    const Published<std::string>& llmModel() const { return llmModel_; }
    const Published<std::optional<GlobalHotKey>>& sendToPhoneHotKey() const {
        return sendToPhoneHotKey_;
    }
    const Published<SpeechEnginePreference>& speechEngine() const { return speechEngine_; }
    const Published<std::string>& transcriptionBaseURL() const { return transcriptionBaseURL_; }
    const Published<std::string>& transcriptionModel() const { return transcriptionModel_; }
    const Published<std::string>& transcriptionAPIKey() const { return transcriptionAPIKey_; }
    // Why the key store refused the last API key written, for the settings window to say;
    // none after a successful write.
    const Published<std::optional<std::string>>& keyStoreFailure() const {
        return keyStoreFailure_;
    }

    void setSelectedLanguage(AppLanguage language);
    void setTriggerKey(TriggerKey key);
    void setLLMEnabled(bool enabled);
    // Kept as typed: trimming is the settings form's job.
    void setLLMBaseURL(std::string url);
    void setLLMAPIKey(std::string key);
    void setLLMModel(std::string model);
    void setSendToPhoneHotKey(std::optional<GlobalHotKey> hotKey);
    void setSpeechEngine(SpeechEnginePreference preference);
    void setTranscriptionBaseURL(std::string url);
    void setTranscriptionModel(std::string model);
    // Written to the transcription key store only; a refusal shows in `keyStoreFailure`.
    void setTranscriptionAPIKey(std::string key);

    LLMConfiguration llmConfiguration() const;

    // Runs `ready` on the main thread once the API keys have been read: at once when they are
    // known, after the key store's answer while it is being asked. A key store that could not be
    // read is asked again, so that a step needing a key waits for it or says why it has none.
    void whenKeysKnown(std::function<void(KeysOutcome)> ready);
    bool keysKnown() const { return !keyWaiters_ && !keysUnreadable_; }

    // These settings as dictation reads and writes them.
    DictationSettings& forDictation() { return *forDictation_; }

    // Called before any published value changes.
    Subscription observeWillChange(std::function<void()> observer);

    // Fires on the main queue after each change of the language, refinement switch or trigger
    // key (what the status menu shows); subscribing alone does not fire it.
    Subscription observeMenuChanges(std::function<void()> observer);

  private:
    struct ReadKeys;

    void readKeys();
    void keysRead(ReadKeys keys);
    void writeAPIKey(LLMKeyStore& store, std::string_view key);

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<LLMKeyStore> keyStore_;
    std::shared_ptr<LLMKeyStore> transcriptionKeyStore_;
    MainQueue* mainQueue_;
    Observers<> willChange_;
    std::unique_ptr<DictationSettings> forDictation_;

    Published<AppLanguage> selectedLanguage_{AppLanguage::english};
    Published<TriggerKey> triggerKey_{TriggerKey::modifier(kDefaultTriggerKeyCode)};
    Published<bool> llmEnabled_{false};
    Published<std::string> llmBaseURL_{std::string(kDefaultBaseURL)};
    Published<std::string> llmAPIKey_{std::string()};
    Published<std::string> llmModel_{std::string(kDefaultModel)};
    Published<std::optional<GlobalHotKey>> sendToPhoneHotKey_{std::nullopt};
    Published<SpeechEnginePreference> speechEngine_{SpeechEnginePreference::automatic};
    Published<std::string> transcriptionBaseURL_{std::string(kDefaultTranscriptionBaseURL)};
    Published<std::string> transcriptionModel_{std::string(kDefaultTranscriptionModel)};
    Published<std::string> transcriptionAPIKey_{std::string()};
    Published<std::optional<std::string>> keyStoreFailure_{std::nullopt};

    Background keyReader_;
    // Engaged while the key store is being asked: who waits for its answer.
    std::optional<std::vector<std::function<void(KeysOutcome)>>> keyWaiters_;
    // Why the last reading of the keys failed.
    std::optional<std::string> keysUnreadable_;
    // A key typed while the store was being read wins over the one read.
    bool llmKeyTyped_ = false;
    bool transcriptionKeyTyped_ = false;
    Lifetime lifetime_;
};

}  // namespace kestrune
