#include <gtest/gtest.h>

#include "Kestrune/settings/ui/HotKeyRecording.hpp"
#include "Kestrune/settings/ui/TriggerKeyRecording.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {
namespace {

class RecordingTest : public ::testing::Test {
  protected:
    void SetUp() override { L10n::shared().setLanguageOverride("en"); }
    void TearDown() override { L10n::shared().setLanguageOverride(std::nullopt); }
};

TEST_F(RecordingTest, TriggerKeyRecorderRefusesTypingKeysBindsSpareOnesAndCancelsOnEscape) {
    TriggerKeyRecording recording;
    EXPECT_EQ(recording.handleKey(96), std::nullopt) << "nothing is taken before starting";
    recording.start();
    EXPECT_EQ(recording.display(TriggerKey::modifier(61)), "Press a key…");
    EXPECT_EQ(recording.hint(), "Press the key you want to hold. Esc cancels.");

    EXPECT_EQ(recording.handleKey(0), std::nullopt);
    EXPECT_TRUE(recording.isRecording());
    EXPECT_EQ(recording.hint(), "A is needed for typing — pick a spare key.");
    EXPECT_EQ(recording.handleKey(49), std::nullopt);
    EXPECT_EQ(recording.message(), "Space is needed for typing — pick a spare key.");

    EXPECT_EQ(recording.handleKey(96), TriggerKey::dedicatedKey(96));
    EXPECT_FALSE(recording.isRecording());
    EXPECT_EQ(recording.message(), "Bound to F5.");
    EXPECT_EQ(recording.display(TriggerKey::dedicatedKey(96)), "F5 (custom)");

    recording.start();
    EXPECT_EQ(recording.message(), "");
    EXPECT_EQ(recording.handleKey(62), TriggerKey::modifier(62));

    recording.start();
    recording.handleKey(0);
    EXPECT_EQ(recording.handleKey(TriggerKeyRecording::kEscapeKeyCode), std::nullopt);
    EXPECT_FALSE(recording.isRecording());
    EXPECT_EQ(recording.message(), "");
    EXPECT_EQ(recording.hint(),
              "The bound key is suppressed system-wide, so pick one you never use.");
}

TEST_F(RecordingTest, ShortcutRecorderSuspendsTheShortcutRefusesCommonOnesAndSetsANewOne) {
    std::vector<bool> recordingChanges;
    std::vector<std::optional<GlobalHotKey>> changes;
    HotKeyRecording recording({
        .onRecordingChange = [&](bool on) { recordingChanges.push_back(on); },
        .onChange = [&](std::optional<GlobalHotKey> key) { changes.push_back(key); },
    });
    const GlobalHotKey current(40, GlobalHotKey::command | GlobalHotKey::shift);
    EXPECT_TRUE(recording.offersClear(current));
    recording.start();
    recording.start();
    EXPECT_EQ(recordingChanges, std::vector<bool>{true});
    EXPECT_FALSE(recording.offersClear(current));
    EXPECT_EQ(recording.display(current), "Press the shortcut…");

    // Ctrl+V: refused, still recording.
    recording.handleKey(9, GlobalHotKey::command);
    EXPECT_TRUE(recording.isRecording());
    EXPECT_EQ(recording.caption(), GlobalHotKey::message(GlobalHotKey::Refusal::commonShortcut));
    EXPECT_TRUE(changes.empty());

    // Alt+K alone: neither Ctrl nor Super.
    recording.handleKey(40, GlobalHotKey::option);
    EXPECT_TRUE(recording.isRecording());
    EXPECT_EQ(recording.caption(),
              GlobalHotKey::message(GlobalHotKey::Refusal::needsCommandOrControl));

    // Ctrl+Alt+K: set, stopped, the shortcut resumes.
    recording.handleKey(40, GlobalHotKey::command | GlobalHotKey::option);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::option));
    EXPECT_FALSE(recording.isRecording());
    EXPECT_EQ(recordingChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(recording.caption(), "Set to Ctrl+Alt+K.");

    // Escape keeps the last message; clearing reports none.
    recording.start();
    recording.handleKey(53, 0);
    EXPECT_FALSE(recording.isRecording());
    EXPECT_EQ(recording.caption(), "Works from any app. Use at least one of Ctrl or Super.");
    recording.clear();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1], std::nullopt);
    EXPECT_EQ(recording.display(std::nullopt), "Not set");
    recording.stop();
    EXPECT_EQ(recordingChanges.size(), 4u);
}

}  // namespace
}  // namespace kestrune
