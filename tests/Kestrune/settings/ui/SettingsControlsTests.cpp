#include <gtest/gtest.h>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "Kestrune/settings/ui/SettingsControls.hpp"
#include "Kestrune/settings/ui/SettingsPane.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using SettingsControls::PhoneListLayout;

TEST(SettingsPanes, StoredNamesTabsAndTheirSections) {
    for (auto pane : kAllSettingsPanes) EXPECT_EQ(settingsPaneFromRawValue(rawValue(pane)), pane);
    EXPECT_EQ(rawValue(SettingsPane::phone), "phone");
    EXPECT_EQ(settingsPaneFromRawValue("updates"), std::nullopt);
    EXPECT_EQ(settingsPaneFromRawValue(""), std::nullopt);

    using S = SettingsSection;
    // No updater on this platform: General has no Updates box.
    EXPECT_EQ(sections(SettingsPane::general),
              (std::vector<S>{S::launchAtLogin, S::interfaceLanguage, S::welcome}));
    EXPECT_EQ(sections(SettingsPane::speech), (std::vector<S>{S::pushToTalk, S::recognition}));
    EXPECT_EQ(sections(SettingsPane::phone), (std::vector<S>{S::pairedPhones, S::phoneOptions,
                                                             S::imageDestination, S::sendToPhone}));
    EXPECT_EQ(sections(SettingsPane::llm), (std::vector<S>{S::llm}));

    L10n::shared().setLanguageOverride("zh-Hans");
    EXPECT_EQ(title(SettingsPane::phone), "手机连接");
    for (auto pane : kAllSettingsPanes) {
        for (auto section : sections(pane)) EXPECT_FALSE(title(section).empty());
    }
    L10n::shared().setLanguageOverride(std::nullopt);
}

class DraftsTest : public ::testing::Test {
  protected:
    testing::TemporaryDirectory dir{"murrelo-drafts"};
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(dir.path(), "zz.holvanis.murrelo");
    std::shared_ptr<InMemoryLLMKeyStore> keys = std::make_shared<InMemoryLLMKeyStore>();
    std::shared_ptr<InMemoryLLMKeyStore> transcriptionKeys =
        std::make_shared<InMemoryLLMKeyStore>();
    ManualMainQueue queue;
    SettingsStore store{defaults, keys, transcriptionKeys, queue};
};

TEST_F(DraftsTest, TypingWritesNothingUntilCommittedAndThenExactlyWhatWasTyped) {
    auto drafts = SettingsControls::llmDrafts(store);
    int writes = 0;
    auto counting = store.observeWillChange([&] { ++writes; });

    EXPECT_EQ(drafts.value(LLMField::model), "gpt-4.1-mini");
    drafts.edit(LLMField::apiKey, " sk-typed ");
    drafts.edit(LLMField::baseURL, "http://127.0.0.1:9/v1");
    EXPECT_EQ(drafts.value(LLMField::apiKey), " sk-typed ");
    EXPECT_EQ(store.llmAPIKey().value(), "");
    EXPECT_EQ(writes, 0);

    // The test sends the fields as shown, switched on, and stores nothing.
    const auto tested = SettingsControls::testConfiguration(drafts);
    EXPECT_EQ(tested,
              (LLMConfiguration{"http://127.0.0.1:9/v1", " sk-typed ", "gpt-4.1-mini", true}));
    EXPECT_EQ(writes, 0);
    EXPECT_TRUE(drafts.hasDraft(LLMField::apiKey));

    drafts.commitAll();
    EXPECT_EQ(store.llmAPIKey().value(), " sk-typed ");
    EXPECT_EQ(keys->read().value_or(""), " sk-typed ");
    EXPECT_EQ(store.llmBaseURL().value(), "http://127.0.0.1:9/v1");
    EXPECT_EQ(defaults->string(settings_keys::llmBaseURL), "http://127.0.0.1:9/v1");
    EXPECT_FALSE(drafts.hasDraft(LLMField::apiKey));
    const int afterCommit = writes;
    EXPECT_EQ(afterCommit, 2);

    // A draft equal to the stored value writes nothing.
    drafts.edit(LLMField::model, "gpt-4.1-mini");
    drafts.commit(LLMField::model);
    EXPECT_EQ(writes, afterCommit);
    EXPECT_FALSE(drafts.hasDraft(LLMField::model));

    // The transcription form goes to its own settings and key.
    auto transcription = SettingsControls::transcriptionDrafts(store);
    EXPECT_EQ(transcription.value(LLMField::model), "whisper-1");
    transcription.edit(LLMField::apiKey, "sk-speech");
    transcription.commitAll();
    EXPECT_EQ(transcriptionKeys->read().value_or(""), "sk-speech");
    EXPECT_EQ(keys->read().value_or(""), " sk-typed ");
}

TEST_F(DraftsTest, StatusLineSaysWhichFieldKeepsRefinementFromWorking) {
    L10n::shared().setLanguageOverride("en");
    auto configuration = LLMConfiguration{"  ", "sk", "m", true};
    EXPECT_EQ(SettingsControls::llmStatusLine("", configuration),
              "Nothing is refined until the API Base URL is filled in.");
    configuration.isEnabled = false;
    EXPECT_EQ(SettingsControls::llmStatusLine("", configuration), "");
    configuration = LLMConfiguration{"http://x", "", "m", true};
    EXPECT_EQ(SettingsControls::llmStatusLine("", configuration),
              "Nothing is refined until the API Key is filled in.");
    EXPECT_EQ(SettingsControls::llmStatusLine("Testing…", configuration), "Testing…");
    configuration.apiKey = "sk";
    EXPECT_EQ(SettingsControls::llmStatusLine("", configuration), "");
    L10n::shared().setLanguageOverride(std::nullopt);
}

TEST(PhoneList, ScrollsOnceTheRowsNeedMoreThanThirtyPercentOfTheScreen) {
    EXPECT_EQ(SettingsControls::phoneListLayout(7, 800), (PhoneListLayout{false, 224}));
    EXPECT_EQ(SettingsControls::phoneListLayout(8, 800), (PhoneListLayout{true, 240}));
    EXPECT_EQ(SettingsControls::phoneListLayout(0, 800), (PhoneListLayout{false, 0}));
    EXPECT_EQ(SettingsControls::phoneListLayout(8, std::nullopt), (PhoneListLayout{true, 240}));
    EXPECT_EQ(SettingsControls::phoneListLayout(8, 1080), (PhoneListLayout{false, 256}));
}

TEST(InterfaceLanguageSignalTest, ReachesEveryObserverUntilItUnsubscribes) {
    int first = 0;
    int second = 0;
    auto a = InterfaceLanguageSignal::observe([&] { ++first; });
    {
        auto b = InterfaceLanguageSignal::observe([&] { ++second; });
        InterfaceLanguageSignal::announce();
    }
    InterfaceLanguageSignal::announce();
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace kestrune
