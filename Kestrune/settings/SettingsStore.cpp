#include "Kestrune/settings/SettingsStore.hpp"

#include <array>
#include <utility>

#include "Kestrune/defaults/UserDefaults.hpp"

namespace kestrune {

namespace keys = settings_keys;

namespace {

class StoreDictationSettings : public DictationSettings {
  public:
    explicit StoreDictationSettings(SettingsStore& store) : store_(store) {}
    TriggerKey triggerKey() const override { return store_.triggerKey().value(); }
    void setTriggerKey(TriggerKey key) override { store_.setTriggerKey(key); }
    AppLanguage language() const override { return store_.selectedLanguage().value(); }
    LLMConfiguration refinement() const override { return store_.llmConfiguration(); }
    void whenKeysKnown(std::function<void(Result<void, std::string>)> ready) override {
        store_.whenKeysKnown(std::move(ready));
    }

  private:
    SettingsStore& store_;
};

}  // namespace

SettingsStore::SettingsStore(std::shared_ptr<UserDefaults> defaults,
                             std::shared_ptr<LLMKeyStore> keyStore,
                             std::shared_ptr<LLMKeyStore> transcriptionKeyStore,
                             MainQueue& mainQueue,
                             const std::function<std::string()>& desktopLocale,
                             Background keyReader)
    : defaults_(std::move(defaults)),
      keyStore_(std::move(keyStore)),
      transcriptionKeyStore_(std::move(transcriptionKeyStore)),
      mainQueue_(&mainQueue),
      forDictation_(std::make_unique<StoreDictationSettings>(*this)),
      keyReader_(std::move(keyReader)) {
    // Each value falls back to its default when absent, of another kind or unparsable. The
    // language's default is the desktop's, kept out of the database until the user picks one, so
    // that a later change of the desktop's locale still counts.
    std::optional<AppLanguage> language;
    if (auto raw = defaults_->string(keys::selectedLanguage))
        language = appLanguageFromRawValue(*raw);
    selectedLanguage_.set(
        language.value_or(appLanguageForLocale(desktopLocale ? desktopLocale() : std::string())));
    if (auto raw = defaults_->string(keys::triggerKey)) {
        if (auto key = TriggerKey::fromPersistedValue(*raw)) triggerKey_.set(*key);
    }
    llmEnabled_.set(defaults_->boolean(keys::llmEnabled).value_or(false));
    if (auto url = defaults_->string(keys::llmBaseURL)) llmBaseURL_.set(*url);
    if (auto model = defaults_->string(keys::llmModel)) llmModel_.set(*model);
    if (auto raw = defaults_->string(keys::speechEngine)) {
        speechEngine_.set(
            speechEnginePreferenceFromRawValue(*raw).value_or(SpeechEnginePreference::automatic));
    }
    if (auto url = defaults_->string(keys::transcriptionBaseURL)) transcriptionBaseURL_.set(*url);
    if (auto model = defaults_->string(keys::transcriptionModel)) transcriptionModel_.set(*model);
    readKeys();

    // Through the setter, so a refused shortcut is removed from the database and a valid one is
    // rewritten in its canonical form.
    std::optional<GlobalHotKey> hotKey;
    if (auto raw = defaults_->string(keys::sendToPhoneHotKey)) {
        hotKey = GlobalHotKey::fromPersistedValue(*raw);
    }
    setSendToPhoneHotKey(hotKey);
}

struct SettingsStore::ReadKeys {
    // An earlier version kept the refinement key in the database; it moves to the key store.
    std::optional<std::string> legacy;
    std::optional<LLMKeyStore::WriteResult> legacyMoved;
    LLMKeyStore::LookUpResult refinement = std::optional<std::string>();
    LLMKeyStore::LookUpResult transcription = std::optional<std::string>();
};

void SettingsStore::readKeys() {
    ReadKeys keys;
    if (auto legacy = defaults_->string(keys::legacyLLMAPIKey); legacy && !legacy->empty()) {
        keys.legacy = std::move(legacy);
    }
    auto read = [refinement = keyStore_, transcription = transcriptionKeyStore_](ReadKeys keys) {
        if (keys.legacy) {
            keys.legacyMoved = refinement->write(*keys.legacy);
        } else {
            keys.refinement = refinement->lookUp();
        }
        keys.transcription = transcription->lookUp();
        return keys;
    };
    if (!keyReader_) return keysRead(read(std::move(keys)));

    keyWaiters_.emplace();
    auto done = lifetime_.guard([this](ReadKeys& read) { keysRead(std::move(read)); });
    keyReader_([read, keys = std::move(keys), done, main = mainQueue_]() mutable {
        main->post([done, keys = read(std::move(keys))]() mutable { done(keys); });
    });
}

void SettingsStore::keysRead(ReadKeys keys) {
    std::optional<std::string> unreadable;
    if (!keys.legacy && !keys.refinement) unreadable = keys.refinement.error();
    if (!keys.transcription) unreadable = keys.transcription.error();
    // Settled before any value is announced, so that observers already see the keys as known.
    const auto previouslyUnreadable = std::exchange(keysUnreadable_, unreadable);
    auto waiters = std::move(keyWaiters_).value_or(std::vector<std::function<void(KeysOutcome)>>());
    keyWaiters_.reset();

    willChange_.notify();
    if (keys.legacy) {
        // Left in the database when the move fails, so the next start tries again.
        if (!llmKeyTyped_) llmAPIKey_.set(*keys.legacy);
        if (*keys.legacyMoved) {
            defaults_->remove(keys::legacyLLMAPIKey);
        } else {
            keyStoreFailure_.set(keys.legacyMoved->error());
        }
    } else if (keys.refinement && !llmKeyTyped_) {
        llmAPIKey_.set(keys.refinement.value().value_or(std::string()));
    }
    if (keys.transcription && !transcriptionKeyTyped_) {
        transcriptionAPIKey_.set(keys.transcription.value().value_or(std::string()));
    }
    if (unreadable) {
        keyStoreFailure_.set(unreadable);
    } else if (previouslyUnreadable && keyStoreFailure_.value() == previouslyUnreadable) {
        keyStoreFailure_.set(std::nullopt);
    }
    for (auto& waiter : waiters) waiter(unreadable ? KeysOutcome(*unreadable) : KeysOutcome());
}

void SettingsStore::whenKeysKnown(std::function<void(KeysOutcome)> ready) {
    if (!keyWaiters_ && keysUnreadable_ && keyReader_) readKeys();
    if (keyWaiters_) return keyWaiters_->push_back(std::move(ready));
    ready(keysUnreadable_ ? KeysOutcome(*keysUnreadable_) : KeysOutcome());
}

void SettingsStore::setSelectedLanguage(AppLanguage language) {
    willChange_.notify();
    selectedLanguage_.set(language);
    defaults_->set(keys::selectedLanguage, std::string(rawValue(language)));
}

void SettingsStore::setTriggerKey(TriggerKey key) {
    willChange_.notify();
    triggerKey_.set(key);
    defaults_->set(keys::triggerKey, key.persistedValue());
}

void SettingsStore::setLLMEnabled(bool enabled) {
    willChange_.notify();
    llmEnabled_.set(enabled);
    defaults_->set(keys::llmEnabled, enabled);
}

void SettingsStore::setLLMBaseURL(std::string url) {
    willChange_.notify();
    llmBaseURL_.set(url);
    defaults_->set(keys::llmBaseURL, std::move(url));
}

void SettingsStore::setLLMAPIKey(std::string key) {
    willChange_.notify();
    llmKeyTyped_ = true;
    llmAPIKey_.set(key);
    writeAPIKey(*keyStore_, key);
}

void SettingsStore::setLLMModel(std::string model) {
    willChange_.notify();
    llmModel_.set(model);
    defaults_->set(keys::llmModel, std::move(model));
}

void SettingsStore::setSendToPhoneHotKey(std::optional<GlobalHotKey> hotKey) {
    willChange_.notify();
    sendToPhoneHotKey_.set(hotKey);
    if (hotKey) {
        defaults_->set(keys::sendToPhoneHotKey, hotKey->persistedValue());
    } else {
        defaults_->remove(keys::sendToPhoneHotKey);
    }
}

void SettingsStore::setSpeechEngine(SpeechEnginePreference preference) {
    willChange_.notify();
    speechEngine_.set(preference);
    defaults_->set(keys::speechEngine, std::string(rawValue(preference)));
}

void SettingsStore::setTranscriptionBaseURL(std::string url) {
    willChange_.notify();
    transcriptionBaseURL_.set(url);
    defaults_->set(keys::transcriptionBaseURL, std::move(url));
}

void SettingsStore::setTranscriptionModel(std::string model) {
    willChange_.notify();
    transcriptionModel_.set(model);
    defaults_->set(keys::transcriptionModel, std::move(model));
}

void SettingsStore::setTranscriptionAPIKey(std::string key) {
    willChange_.notify();
    transcriptionKeyTyped_ = true;
    transcriptionAPIKey_.set(key);
    writeAPIKey(*transcriptionKeyStore_, key);
}

void SettingsStore::writeAPIKey(LLMKeyStore& store, std::string_view key) {
    // The key itself never goes to the database; a refused write is kept only as its reason.
    const auto written = store.write(key);
    const std::optional<std::string> failure =
        written ? std::nullopt : std::optional(written.error());
    if (failure != keyStoreFailure_.value()) {
        willChange_.notify();
        keyStoreFailure_.set(failure);
    }
}

LLMConfiguration SettingsStore::llmConfiguration() const {
    return {llmBaseURL_.value(), llmAPIKey_.value(), llmModel_.value(), llmEnabled_.value()};
}

Subscription SettingsStore::observeWillChange(std::function<void()> observer) {
    return willChange_.add(std::move(observer));
}

Subscription SettingsStore::observeMenuChanges(std::function<void()> observer) {
    // The three streams each yield their current value on subscription: those three events are
    // not changes and are dropped.
    struct State {
        int toDrop = 3;
        std::function<void()> observer;
    };
    auto state = std::make_shared<State>(State{3, std::move(observer)});
    const auto onEvent = [weak = std::weak_ptr<State>(state), queue = mainQueue_] {
        auto current = weak.lock();
        if (!current) return;
        if (current->toDrop > 0) {
            --current->toDrop;
            return;
        }
        queue->post([weak] {
            if (auto alive = weak.lock()) alive->observer();
        });
    };
    auto subscriptions = std::make_shared<std::array<Subscription, 3>>();
    (*subscriptions)[0] = selectedLanguage_.subscribe([onEvent](const AppLanguage&) { onEvent(); });
    (*subscriptions)[1] = llmEnabled_.subscribe([onEvent](const bool&) { onEvent(); });
    (*subscriptions)[2] = triggerKey_.subscribe([onEvent](const TriggerKey&) { onEvent(); });
    return Subscription([state, subscriptions]() mutable {
        for (auto& subscription : *subscriptions) subscription.reset();
        state.reset();
    });
}

}  // namespace kestrune
