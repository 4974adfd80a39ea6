// A dictation while the welcome window is open, through the real coordinator in virtual time
// (stand-ins only for the key, the microphone, the recognizer and the clipboard): the key picked
// in the window is watched at once, the text lands in the window's box and nothing is typed; once
// the window closes, dictation types again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include <algorithm>
#include <cstdlib>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/paste/TextInjector.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "shell/common/TriggerKeyPicker.hpp"
#include "shell/welcome/WelcomeView.hpp"
#include "shell/welcome/WelcomeWindowController.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/QtTestApplication.hpp"
#include "tests/support/SpeechFakes.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/VirtualDictation.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

TEST(WelcomeDictation, WhileTheWindowIsOpenTheTextLandsInItsBoxAndNothingIsTyped) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
    testing::widgetsApplication();
    L10n::shared().setLanguageOverride("en");

    ManualMainQueue queue;
    testing::VirtualDictationParts parts{queue, "welcome"};
    auto& [folder, settings, keys, captureLog, engine, speech, refiner, pasteboard] = parts;
    TextInjector injector{pasteboard, [] {}};
    testing::RecordingPanelLog panel;
    AppCoordinator coordinator({
        .main = queue,
        .settings = settings.forDictation(),
        .triggerKeys = keys,
        .speech = speech,
        .permissions = {queue, [] { return true; },
                        [](std::function<void(bool)> answer) { answer(true); }},
        .refiner = refiner,
        .panel = panel,
        .paste =
            [&](std::string text, AppCoordinator::PasteDone done) {
                injector.inject(std::move(text), [done] { done({}); });
            },
        .isAccessibilityTrusted = [] { return true; },
    });
    WelcomeWindowController welcome({
        .settings = settings,
        .isTrusted = [] { return true; },
        .isWaylandOnly = {},
        .setFinalTextOverride =
            [&](WelcomeWindowController::FinalTextReceiver receiver) {
                coordinator.setFinalTextOverride(std::move(receiver));
            },
        .onTriggerKeyChange = [&](TriggerKey key) { coordinator.updateTriggerKey(key); },
        .speechHint = {},
        .openSettings = {},
        .onClose = {},
    });

    const auto dictate = [&](const std::string& words) {
        keys.press();
        queue.advance(AppCoordinator::kHoldConfirmationDelay);
        queue.runUntilIdle();
        ASSERT_EQ(coordinator.state().value(), AppCoordinator::State::recording);
        keys.release();
        queue.runUntilIdle();
        ASSERT_TRUE(engine->log->handlers.onResult);
        engine->log->handlers.onResult({words, {}, true});
        queue.runUntilIdle();
        queue.advance(5s);
    };

    coordinator.start(true);
    welcome.show();
    // Right Ctrl picked in the window is what the key source watches from now on.
    auto* picker = welcome.view()->picker();
    const auto& choices = picker->choices();
    const auto rightCtrl = std::find(choices.begin(), choices.end(), TriggerKey::modifier(62));
    ASSERT_NE(rightCtrl, choices.end());
    picker->setCurrentIndex(static_cast<int>(rightCtrl - choices.begin()));
    Q_EMIT picker->activated(picker->currentIndex());
    EXPECT_EQ(keys.triggerKey(), TriggerKey::modifier(62));
    EXPECT_TRUE(keys.isRunning());
    EXPECT_EQ(settings.triggerKey().value(), TriggerKey::modifier(62));
    EXPECT_EQ(picker->currentKey(), TriggerKey::modifier(62));
    dictate("hello welcome window");
    EXPECT_EQ(welcome.view()->transcriptLabel()->text(), "hello welcome window");
    EXPECT_TRUE(pasteboard.log.empty()) << "nothing was typed";

    welcome.close();
    dictate("now typed");
    EXPECT_FALSE(pasteboard.log.empty()) << "after closing, dictation types again";
    EXPECT_EQ(welcome.view()->transcriptLabel()->text(), "Your words will appear here.");
    L10n::shared().setLanguageOverride(std::nullopt);
}

}  // namespace
}  // namespace kestrune
