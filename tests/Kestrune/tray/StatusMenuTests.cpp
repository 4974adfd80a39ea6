#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Kestrune/tray/ControlCommand.hpp"
#include "Kestrune/tray/StatusFeedback.hpp"
#include "Kestrune/tray/StatusMenu.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"

namespace kestrune::tray {
namespace {

using namespace std::chrono_literals;
using Kind = StatusMenuItem::Kind;

// One line per item, as a reader of the menu sees it: "-" for a separator, "[x]" for a check,
// "(disabled)", the shortcut after a tab, a submenu's items indented.
std::vector<std::string> describe(const std::vector<StatusMenuItem>& items,
                                  const std::string& indent = "") {
    std::vector<std::string> lines;
    for (const auto& item : items) {
        if (item.kind == Kind::separator) {
            lines.push_back(indent + "-");
            continue;
        }
        std::string line = indent + (item.checked ? "[x] " : "") + item.title;
        if (!item.enabled) line += " (disabled)";
        if (!item.keyEquivalent.empty()) {
            line += "\t";
            if (item.keyModifiers & GlobalHotKey::command) line += "Ctrl+";
            if (item.keyModifiers & GlobalHotKey::option) line += "Alt+";
            if (item.keyModifiers & GlobalHotKey::shift) line += "Shift+";
            if (item.keyModifiers & GlobalHotKey::control) line += "Super+";
            line += item.keyEquivalent;
        }
        lines.push_back(line);
        if (item.kind == Kind::submenu) {
            auto children = describe(item.children, indent + "  ");
            lines.insert(lines.end(), children.begin(), children.end());
        }
    }
    return lines;
}

class StatusMenu : public ::testing::Test {
  protected:
    void SetUp() override { L10n::shared().setLanguageOverride("en"); }
    void TearDown() override { L10n::shared().setLanguageOverride(std::nullopt); }
};

TEST_F(StatusMenu, WaitingItemsFollowTheConnectionState) {
    StatusMenuState state;
    state.waitingCount = 3;
    auto lines = describe(fillStatusMenu(state));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "3 waiting for your phone — turn on Phone Connection to deliver (disabled)");
    EXPECT_EQ(lines[1], "Send Clipboard to Phone");
    EXPECT_EQ(lines[2], "Clear Waiting Items");
    EXPECT_EQ(lines[3], "-");

    state.phoneState = RemoteInputLifecycle::On{52100};
    lines = describe(fillStatusMenu(state));
    EXPECT_EQ(lines[0], "3 waiting for your phone (disabled)");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[x] Phone Connection — port 52100"),
              lines.end());
    EXPECT_EQ(
        statusIconLook(state.phoneState),
        (StatusIconLook{StatusIconLook::Symbol::radioWaves, "Murrelo — Phone Connection is on"}));

    // Starting is neither off (so the waiting line does not ask to turn it on) nor on.
    state.phoneState = RemoteInputLifecycle::Starting{};
    lines = describe(fillStatusMenu(state));
    EXPECT_EQ(lines[0], "3 waiting for your phone (disabled)");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Phone Connection — starting…"), lines.end());
    EXPECT_EQ(statusIconLook(state.phoneState).symbol, StatusIconLook::Symbol::microphone);
}

TEST_F(StatusMenu, ShortcutShownOnlyForASingleCharacterKey) {
    StatusMenuState state;
    // Ctrl+Alt+K (K is key code 40): shown, in lower case.
    state.sendHotKey = GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::option);
    auto items = fillStatusMenu(state);
    EXPECT_EQ(items[0].command, StatusMenuCommand::sendClipboardToPhone);
    EXPECT_EQ(items[0].keyEquivalent, "k");
    EXPECT_EQ(items[0].keyModifiers, GlobalHotKey::command | GlobalHotKey::option);

    // Ctrl+F5 (key code 96): the key's name is not one character, so no key equivalent.
    state.sendHotKey = GlobalHotKey(96, GlobalHotKey::command);
    items = fillStatusMenu(state);
    EXPECT_EQ(items[0].keyEquivalent, "");
}

// What the tray shows over time: the tool tip or notification text, "" once cleared.
struct FeedbackRecorder {
    std::vector<std::pair<Duration, std::string>> shown;
};

TEST(StatusFeedbackTiming, ANewerTextGetsItsOwnFullShowTime) {
    ManualMainQueue main;
    FeedbackRecorder recorder;
    auto feedback = std::make_unique<StatusFeedback>(StatusFeedback::Dependencies{
        main, [&](const std::string& text) { recorder.shown.emplace_back(main.elapsed(), text); },
        [&] { recorder.shown.emplace_back(main.elapsed(), ""); }});

    feedback->flash("Sent to your phone");
    main.advance(1s);
    feedback->flash("Couldn’t register this shortcut.");
    EXPECT_TRUE(feedback->isShowing());
    // The first text's 4 s end at 4 s: nothing is cleared then.
    main.advance(3s + 999ms);
    EXPECT_TRUE(feedback->isShowing());
    EXPECT_EQ(recorder.shown.size(), 2u);
    main.advance(1ms);
    EXPECT_FALSE(feedback->isShowing());
    const std::vector<std::pair<Duration, std::string>> expected = {
        {0s, "Sent to your phone"}, {1s, "Couldn’t register this shortcut."}, {5s, ""}};
    EXPECT_EQ(recorder.shown, expected);

    // Gone with a text up: its expiry never runs.
    feedback->flash("late");
    feedback.reset();
    main.advance(10s);
    EXPECT_EQ(recorder.shown.size(), 4u);
    EXPECT_EQ(main.pendingCount(), 0u);
}

// The running instance's answers to each command are checked with the program itself; here, what
// is not a command.
TEST(ControlCommands, AnythingButACommandGivesTheUsage) {
    for (const auto& wrong : std::vector<std::vector<std::string>>{
             {}, {"phone"}, {"phone", "on", "now"}, {"Phone", "on"}, {"dictation"}, {"help"}}) {
        const auto parsed = parseControlCommand(wrong);
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.error(), controlUsage());
    }
}

}  // namespace
}  // namespace kestrune::tray
