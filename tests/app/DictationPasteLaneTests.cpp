// Dictation as the application wires it (app::Dictation over the coordinator) sharing one paste
// queue with phones, in virtual time: stand-ins only for the key, the audio, the recognizer, the
// clipboard and the panel.
#include <gtest/gtest.h>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/paste/TextInjector.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "app/Dictation.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/PasteboardFakes.hpp"
#include "tests/support/ResultTesting.hpp"
#include "tests/support/SpeechFakes.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/VirtualDictation.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using State = AppCoordinator::State;

TEST(DictationPasteLane, ADictationIsTypedWhileSixteenPhonePastesWaitAndPhoneConnectionStops) {
    L10n::shared().setLanguageOverride("en");
    ManualMainQueue queue;
    testing::VirtualDictationParts parts{queue, "lane"};
    auto& [folder, settings, keys, captureLog, engine, speech, refiner, pasteboard] = parts;
    settings.setLLMEnabled(false);
    TextInjector injector{pasteboard, [] {}};
    SerialPasteQueue pasteQueue{queue, [&](const std::string& text, std::function<void()> done) {
                                    injector.inject(text, std::move(done));
                                }};
    testing::RecordingPanelLog panel;
    app::Dictation dictation(
        {settings, keys, speech,
         PermissionCoordinator::Dependencies{
             queue, [] { return true; }, [](std::function<void(bool)> answer) { answer(true); }},
         refiner, pasteQueue, [] { return true; }},
        queue, panel);
    auto& coordinator = dictation.coordinator();
    coordinator.updateTriggerKey(TriggerKey::dedicatedKey(96));
    coordinator.start(false);

    // A phone's texts fill its share of the queue: one pasting, fifteen waiting.
    std::vector<std::optional<RemoteError>> phoneOutcomes;
    for (int i = 0; i <= SerialPasteQueue::kMaxPending; ++i) {
        pasteQueue.enqueue("phone " + std::to_string(i), [&](Result<void, RemoteError> outcome) {
            phoneOutcomes.push_back(testing::failureOf(outcome));
        });
    }
    ASSERT_EQ(phoneOutcomes, std::vector<std::optional<RemoteError>>{RemoteError::busy});
    queue.runUntilIdle();

    keys.press();
    queue.runUntilIdle();
    ASSERT_EQ(coordinator.state().value(), State::recording);
    keys.release();
    engine->log->handlers.onResult({"dictated words", {}, true});
    queue.runUntilIdle();
    // Phone Connection stops while the dictation waits behind the phone's running paste.
    pasteQueue.bumpGeneration();
    queue.advance(10s);

    std::vector<std::string> written;
    for (const auto& entry : pasteboard.log) {
        if (entry.rfind("write ", 0) == 0) written.push_back(entry.substr(6));
    }
    EXPECT_EQ(written, (std::vector<std::string>{"phone 0", "dictated words"}));
    EXPECT_EQ(coordinator.state().value(), State::idle);
    EXPECT_EQ(panel.last(), "hide") << "no notice: the text was typed";
    EXPECT_EQ(std::count(phoneOutcomes.begin(), phoneOutcomes.end(), RemoteError::cancelled), 15);
    L10n::shared().setLanguageOverride(std::nullopt);
}

}  // namespace
}  // namespace kestrune
