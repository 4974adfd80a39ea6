// Push-to-talk in virtual time through the real gate, policies, speech service, paste sequence,
// refiner and settings store; stand-ins only for the key source, audio, recognizer, clipboard,
// HTTP transport and panel.
#include <gtest/gtest.h>

#include <algorithm>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/paste/TextInjector.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/SpeechFakes.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using State = AppCoordinator::State;
using Calls = std::vector<std::string>;

constexpr auto kRightAlt = TriggerKey::modifier(61);
constexpr auto kF5 = TriggerKey::dedicatedKey(96);
constexpr auto kFn = TriggerKey::modifier(63);

class Dictation : public ::testing::Test {
  protected:
    Dictation() {
        L10n::shared().setLanguageOverride("en");
        engine->limit = 2s;
        settings.setSelectedLanguage(AppLanguage::english);
        make();
    }
    ~Dictation() override {
        coordinator.reset();
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    void make() { make(settings.forDictation()); }
    void make(DictationSettings& dictationSettings) {
        coordinator = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
            .main = queue,
            .settings = dictationSettings,
            .triggerKeys = keys,
            .speech = speech,
            .permissions = {queue, [this] { return ++permissionQuestions, speechGranted; },
                            [this](std::function<void(bool)> answer) {
                                if (microphoneAnswersAtOnce) return answer(true);
                                microphoneAnswer = std::move(answer);
                            }},
            .refiner = refiner,
            .panel = panel,
            .paste =
                [this](std::string text, AppCoordinator::PasteDone done) {
                    injector.inject(std::move(text), [done] { done({}); });
                },
            .isAccessibilityTrusted = [this] { return trusted; },
        });
    }

    // The key held past the hold confirmation, permission granted, capture running.
    void holdUntilRecording() {
        keys.press();
        queue.advance(AppCoordinator::kHoldConfirmationDelay);
        queue.runUntilIdle();
        ASSERT_EQ(coordinator->state().value(), State::recording);
    }
    // The recognizer's answer to the end of audio.
    void finalResult(std::string best, std::vector<std::string> all = {}) {
        ASSERT_TRUE(engine->log->handlers.onResult);
        engine->log->handlers.onResult({std::move(best), std::move(all), true});
        queue.runUntilIdle();
    }
    void partialResult(std::string best) {
        engine->log->handlers.onResult({std::move(best), {}, false});
        queue.runUntilIdle();
    }
    std::vector<std::string> pasted() const {
        std::vector<std::string> texts;
        for (const auto& entry : pasteboard.log) {
            if (entry.rfind("write ", 0) == 0) texts.push_back(entry.substr(6));
        }
        return texts;
    }
    void enableRefinement(std::string model = "model-x") {
        settings.setLLMEnabled(true);
        settings.setLLMBaseURL("http://127.0.0.1:9/v1");
        settings.setLLMAPIKey("sk-test");
        settings.setLLMModel(std::move(model));
    }
    static HttpOutcome chatAnswer(const std::string& content) {
        return HttpResponse{200, R"({"choices":[{"message":{"role":"assistant","content":")" +
                                     content + R"("}}]})"};
    }

    ManualMainQueue queue;
    testing::TemporaryDirectory folder{"coordinator-tests"};
    SettingsStore settings{std::make_shared<UserDefaults>(folder.path(), "zz.test.dictation"),
                           std::make_shared<InMemoryLLMKeyStore>(),
                           std::make_shared<InMemoryLLMKeyStore>(), queue};
    testing::FakeTriggerKeySource keys;
    std::shared_ptr<testing::FakeCaptureLog> captureLog =
        std::make_shared<testing::FakeCaptureLog>();
    std::shared_ptr<testing::FakeSpeechEngine> engine =
        std::make_shared<testing::FakeSpeechEngine>();
    SpeechRecognizerService speech{
        {queue, [log = captureLog] { return std::make_unique<testing::FakeAudioCapture>(log); },
         [this](AppLanguage) -> Result<std::shared_ptr<SpeechEngine>, KestruneError> {
             return std::shared_ptr<SpeechEngine>(engine);
         }}};
    std::shared_ptr<testing::ScriptedHttpClient> http =
        std::make_shared<testing::ScriptedHttpClient>();
    LLMRefiner refiner{http, queue};
    testing::RecordingPasteboard pasteboard{queue};
    std::vector<std::string> shortcuts;
    TextInjector injector{pasteboard, [this] { shortcuts.push_back("paste"); }};
    testing::RecordingPanelLog panel;
    bool speechGranted = true;
    int permissionQuestions = 0;
    // Otherwise the audio server hangs: the question stays open until the test answers it.
    bool microphoneAnswersAtOnce = true;
    std::function<void(bool)> microphoneAnswer;
    bool trusted = true;
    std::unique_ptr<AppCoordinator> coordinator;
};

TEST_F(Dictation, AHeldModifierRecordsAndPastesTheTrimmedTranscriptThenRestoresTheClipboard) {
    const PasteboardSnapshot before{{{{"text/html", "text/html", 8, {'<', 'b', '>'}}}}};
    pasteboard.contents = before;
    std::vector<State> states;
    auto watching = coordinator->state().subscribe([&](State s) { states.push_back(s); });
    coordinator->start(true);
    EXPECT_EQ(coordinator->monitorStatus(), RecordingMonitorStartPolicy::Status::monitoring);
    // Nothing ticks while nobody presses.
    EXPECT_EQ(queue.pendingCount(), 0u);

    keys.press();
    queue.advance(AppCoordinator::kHoldConfirmationDelay - 1ms);
    EXPECT_EQ(captureLog->started, 0);
    EXPECT_EQ(coordinator->state().value(), State::idle);
    queue.advance(1ms);
    queue.runUntilIdle();
    EXPECT_EQ(captureLog->started, 1);
    EXPECT_EQ(coordinator->state().value(), State::recording);
    EXPECT_EQ(panel.last(), "show Listening...");
    EXPECT_EQ(engine->log->requests.at(0).locale, "en-US");

    partialResult("");
    EXPECT_EQ(panel.last(), "show Listening...");
    partialResult("hello wor");
    EXPECT_EQ(panel.last(), "show hello wor");
    // Levels reach the panel clamped to 0…1.
    captureLog->handlers.onBuffer(std::vector<float>(AudioCapture::kBufferFrames, 1.0f));
    queue.runUntilIdle();
    ASSERT_FALSE(panel.levels.empty());
    EXPECT_EQ(panel.levels.back(), 1.0);

    keys.release();
    EXPECT_EQ(coordinator->state().value(), State::stopping);
    EXPECT_TRUE(engine->log->audioEnded);
    finalResult("  hello world \n", {" hello world", "hello word  ", ""});
    EXPECT_EQ(pasted(), std::vector<std::string>{"hello world"});
    EXPECT_EQ(coordinator->currentTranscript(), "hello world");
    // Still pasting: the clipboard comes back once the application has read the text.
    EXPECT_EQ(coordinator->state().value(), State::stopping);
    queue.advance(testing::RecordingPasteboard::kReadDelay);
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(pasteboard.contents, before);
    EXPECT_EQ(shortcuts.size(), 1u);
    EXPECT_EQ(panel.last(), "hide");
    EXPECT_EQ(states, (std::vector<State>{State::idle, State::preparing, State::recording,
                                          State::stopping, State::idle}));
    // Afterwards nothing keeps ticking: no poll, no retry.
    queue.advance(10s);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST_F(Dictation, ATapOrAShortcutStartsNothingButSpareKeysStartAtOnce) {
    coordinator->start(true);
    // A tap shorter than the confirmation.
    keys.press();
    queue.advance(100ms);
    keys.release();
    queue.advance(1s);
    // Alt held, then another key within the confirmation (Alt+Tab): a shortcut.
    keys.press();
    queue.advance(200ms);
    keys.otherInput();
    queue.advance(1s);
    EXPECT_EQ(captureLog->started, 0);
    EXPECT_EQ(permissionQuestions, 0);
    EXPECT_TRUE(panel.calls.empty());
    keys.release();
    // Other input before the press, or after the confirmation, does not count.
    keys.otherInput();
    keys.press();
    queue.advance(AppCoordinator::kHoldConfirmationDelay);
    keys.otherInput();
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::recording);
    keys.release();
    finalResult("");
    queue.runUntilIdle();

    // A dedicated key records without waiting.
    coordinator->updateTriggerKey(kF5);
    EXPECT_EQ(keys.triggerKey(), kF5);
    EXPECT_EQ(settings.triggerKey().value(), kF5);
    keys.press();
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::recording);
    EXPECT_EQ(captureLog->started, 2);
}

TEST_F(Dictation, PermissionsAreAskedUntilGrantedAndAReleaseDuringTheQuestionRecordsNothing) {
    coordinator->updateTriggerKey(kF5);
    coordinator->start(true);
    speechGranted = false;
    keys.press();
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(panel.last(), "show Microphone / speech permissions are required.");
    EXPECT_EQ(panel.levels.back(), 0.0);
    keys.release();
    queue.advance(AppCoordinator::kPanelDismissalDelay);
    EXPECT_EQ(panel.last(), "hide");

    // Granted this time, but the key is let go before the answer comes.
    speechGranted = true;
    keys.press();
    EXPECT_EQ(coordinator->state().value(), State::preparing);
    panel.calls.clear();
    keys.release();
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(panel.calls, Calls{"hide"});
    queue.runUntilIdle();
    EXPECT_EQ(captureLog->started, 0);
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(permissionQuestions, 2);
    EXPECT_TRUE(coordinator->hasGrantedPermissions());

    // Once granted, never asked again.
    keys.press();
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::recording);
    EXPECT_EQ(permissionQuestions, 2);
}

TEST_F(Dictation, AHungAudioServerKeepsTheMainQueueFreeUntilItAnswers) {
    coordinator->updateTriggerKey(kF5);
    coordinator->start(true);
    microphoneAnswersAtOnce = false;
    keys.press();
    queue.runUntilIdle();
    ASSERT_TRUE(microphoneAnswer) << "the microphone was asked";
    EXPECT_EQ(coordinator->state().value(), State::preparing);
    // Nothing waits on the main queue meanwhile: other work runs.
    bool ranMeanwhile = false;
    queue.post([&] { ranMeanwhile = true; });
    queue.runUntilIdle();
    EXPECT_TRUE(ranMeanwhile);
    EXPECT_EQ(captureLog->started, 0);

    std::exchange(microphoneAnswer, nullptr)(true);
    EXPECT_EQ(coordinator->state().value(), State::preparing) << "the answer comes on the queue";
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::recording);
    EXPECT_EQ(captureLog->started, 1);
}

TEST_F(Dictation, AnEmptyTranscriptTypesNothingAndFailuresShowTheirNotice) {
    coordinator->start(true);
    holdUntilRecording();
    keys.release();
    finalResult(" \n\t ");
    EXPECT_EQ(panel.last(), "hide");
    panel.calls.clear();
    queue.advance(5s);
    EXPECT_TRUE(pasteboard.log.empty());
    EXPECT_TRUE(panel.calls.empty()) << "no notice";
    EXPECT_EQ(coordinator->state().value(), State::idle);

    // A capture failure while recording ends the attempt with its text.
    holdUntilRecording();
    captureLog->handlers.onInterruption(AudioCapture::Interruption::configurationChanged);
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(panel.last(), "show Audio input changed. Please try again.");
    // Letting go afterwards changes nothing.
    keys.release();
    EXPECT_EQ(panel.last(), "show Audio input changed. Please try again.");
    queue.advance(AppCoordinator::kPanelDismissalDelay);
    EXPECT_EQ(panel.last(), "hide");

    // A capture that cannot start.
    captureLog->startFailure = KestruneError::recordingFailed("no input");
    keys.press();
    queue.advance(AppCoordinator::kHoldConfirmationDelay);
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(panel.last(), "show no input");
    keys.release();
    EXPECT_TRUE(pasteboard.log.empty());
}

TEST_F(Dictation, RefinementRunsOnlyWhenEnabledAndCompleteAndAPressMeanwhileChangesNothing) {
    coordinator->start(true);
    // Enabled, but no model: the raw transcript is typed, nothing is asked.
    enableRefinement("  ");
    holdUntilRecording();
    keys.release();
    finalResult("raw words");
    queue.advance(1s);
    EXPECT_EQ(pasted(), std::vector<std::string>{"raw words"});
    EXPECT_TRUE(http->requests.empty());

    enableRefinement();
    holdUntilRecording();
    keys.release();
    finalResult("hello wold", {"hello wold", "hello world", " hello world "});
    EXPECT_EQ(coordinator->state().value(), State::refining);
    EXPECT_EQ(panel.last(), "refining");
    ASSERT_EQ(http->requests.size(), 1u);
    // The alternatives are trimmed, without the transcript itself and without repeats.
    EXPECT_NE(http->requests[0].body.find(R"(Alternative transcripts:\n1. hello world"})"),
              std::string::npos)
        << http->requests[0].body;

    // Another hold while refining starts nothing, and its release stops nothing.
    keys.press();
    queue.advance(1s);
    keys.release();
    queue.advance(1s);
    EXPECT_EQ(coordinator->state().value(), State::refining);
    EXPECT_EQ(captureLog->started, 2);

    ASSERT_TRUE(http->answer(chatAnswer("hello world")));
    queue.runUntilIdle();
    queue.advance(testing::RecordingPasteboard::kReadDelay);
    EXPECT_EQ(pasted(), (std::vector<std::string>{"raw words", "hello world"}));
    EXPECT_EQ(coordinator->state().value(), State::idle);

    // A failing refinement types nothing.
    holdUntilRecording();
    keys.release();
    finalResult("third");
    ASSERT_TRUE(http->answer(HttpResponse{500, "overloaded"}));
    queue.runUntilIdle();
    EXPECT_EQ(panel.last(), "show LLM request failed: overloaded");
    EXPECT_EQ(coordinator->state().value(), State::idle);
    queue.advance(5s);
    EXPECT_EQ(pasted().size(), 2u);
}

TEST_F(Dictation, RefinementWaitsForTheKeyStoreAndSaysWhenItDidNotAnswer) {
    // The keys are read on another thread, which this test runs by hand.
    std::vector<std::function<void()>> keyReads;
    auto keyStore = std::make_shared<InMemoryLLMKeyStore>();
    keyStore->unanswered = "The key store did not answer.";
    SettingsStore slowKeys{std::make_shared<UserDefaults>(folder.path(), "zz.test.slow-keys"),
                           keyStore,
                           std::make_shared<InMemoryLLMKeyStore>(),
                           queue,
                           {},
                           [&](std::function<void()> work) { keyReads.push_back(work); }};
    slowKeys.setSelectedLanguage(AppLanguage::english);
    slowKeys.setLLMEnabled(true);
    slowKeys.setLLMBaseURL("http://127.0.0.1:9/v1");
    coordinator.reset();
    make(slowKeys.forDictation());
    coordinator->start(true);
    const auto readKeys = [&] {
        ASSERT_EQ(keyReads.size(), 1u);
        auto work = std::move(keyReads.front());
        keyReads.clear();
        work();
        queue.runUntilIdle();
    };

    // The transcript waits for the key instead of being typed unrefined.
    holdUntilRecording();
    keys.release();
    finalResult("raw words");
    EXPECT_TRUE(http->requests.empty());
    EXPECT_TRUE(pasted().empty());
    readKeys();
    EXPECT_EQ(panel.last(), "show The key store did not answer.");
    EXPECT_EQ(slowKeys.keyStoreFailure().value(), "The key store did not answer.");
    EXPECT_TRUE(http->requests.empty());
    EXPECT_TRUE(pasted().empty());
    EXPECT_EQ(coordinator->state().value(), State::idle);

    // The next dictation asks the store again, which now answers.
    queue.advance(5s);
    keyStore->unanswered.reset();
    keyStore->value = "sk-late";
    holdUntilRecording();
    keys.release();
    finalResult("second words");
    readKeys();
    EXPECT_EQ(slowKeys.keyStoreFailure().value(), std::nullopt);
    ASSERT_EQ(http->requests.size(), 1u);
    const auto& headers = http->requests[0].headers;
    EXPECT_NE(std::find(headers.begin(), headers.end(),
                        std::pair<std::string, std::string>{"Authorization", "Bearer sk-late"}),
              headers.end());
    coordinator.reset();
}

TEST_F(Dictation, TheFinalTextOverrideGetsExactlyWhatWouldBeTyped) {
    std::vector<std::string> received;
    coordinator->setFinalTextOverride([&](const std::string& text) {
        received.push_back(text);
        // Its window closes on the first text.
        coordinator->setFinalTextOverride({});
    });
    coordinator->start(true);
    holdUntilRecording();
    keys.release();
    finalResult(" test dictation\n");
    EXPECT_EQ(received, std::vector<std::string>{"test dictation"});
    EXPECT_TRUE(pasteboard.log.empty());
    EXPECT_EQ(coordinator->state().value(), State::idle);
    EXPECT_EQ(panel.last(), "hide");

    // Cleared: the next one is typed.
    holdUntilRecording();
    keys.release();
    finalResult("typed");
    EXPECT_EQ(pasted(), std::vector<std::string>{"typed"});
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(Dictation, AnUnwatchableKeyIsRetriedEverySecondWithOneTaskAndOneNotice) {
    keys.startable = false;
    trusted = false;
    coordinator->start(true);
    EXPECT_EQ(coordinator->monitorStatus(),
              RecordingMonitorStartPolicy::Status::waitingForAccessibility);
    EXPECT_EQ(panel.calls, Calls{"show Enable Accessibility permission for Murrelo"});
    // Another unwatchable key meanwhile adds no second retry loop and no second notice.
    coordinator->updateTriggerKey(kF5);
    EXPECT_EQ(keys.starts, 2);
    queue.advance(AppCoordinator::kMonitorRetryInterval * 5);
    EXPECT_EQ(keys.starts, 7);
    EXPECT_EQ(std::count(panel.calls.begin(), panel.calls.end(),
                         "show Enable Accessibility permission for Murrelo"),
              1);
    keys.startable = true;
    queue.advance(AppCoordinator::kMonitorRetryInterval);
    EXPECT_EQ(coordinator->monitorStatus(), RecordingMonitorStartPolicy::Status::monitoring);
    EXPECT_EQ(queue.pendingCount(), 0u);
    EXPECT_EQ(keys.starts, 8);

    // stop() ends a retry loop too.
    coordinator->stop();
    keys.startable = false;
    coordinator->updateTriggerKey(kRightAlt);
    EXPECT_EQ(coordinator->monitorStatus(),
              RecordingMonitorStartPolicy::Status::waitingForAccessibility);
    coordinator->stop();
    EXPECT_EQ(coordinator->monitorStatus(), RecordingMonitorStartPolicy::Status::idle);
    const int starts = keys.starts;
    queue.advance(10s);
    EXPECT_EQ(keys.starts, starts);
}

// A key another application holds, or one the keyboard cannot report (a stored Fn): only
// another key helps, so the user is told once and nothing is retried until a key is chosen.
TEST_F(Dictation, AKeyThatCannotBeWatchedIsToldOnceAndNotRetriedUntilAKeyIsChosen) {
    settings.setTriggerKey(kFn);
    coordinator.reset();
    keys.startable = false;
    keys.unwatchable = true;
    make();
    EXPECT_EQ(keys.triggerKey(), kFn);
    // Without a prompt at start (the welcome window is up) the notice still shows.
    coordinator->start(false);
    const Calls fnNotice{
        "show Fn can't be watched on this computer — choose another key in Settings."};
    EXPECT_EQ(panel.calls, fnNotice);
    queue.advance(AppCoordinator::kPanelDismissalDelay);
    queue.advance(30s);
    EXPECT_EQ(keys.starts, 1);
    EXPECT_EQ(queue.pendingCount(), 0u);
    EXPECT_EQ(panel.calls, (Calls{fnNotice[0], "hide"}));

    // F5, held by another application, is tried once and named.
    panel.calls.clear();
    coordinator->updateTriggerKey(kF5);
    EXPECT_EQ(settings.triggerKey().value(), kF5);
    EXPECT_EQ(panel.calls, Calls{"show F5 can't be watched on this computer — choose another key "
                                 "in Settings."});
    queue.advance(30s);
    EXPECT_EQ(keys.starts, 2);
    EXPECT_EQ(coordinator->monitorStatus(), RecordingMonitorStartPolicy::Status::idle);

    // Once the other application lets go, choosing the same key again starts watching it.
    keys.startable = true;
    coordinator->updateTriggerKey(kF5);
    EXPECT_EQ(coordinator->monitorStatus(), RecordingMonitorStartPolicy::Status::monitoring);
    coordinator->updateTriggerKey(kRightAlt);
    EXPECT_EQ(coordinator->monitorStatus(), RecordingMonitorStartPolicy::Status::monitoring);
    EXPECT_EQ(keys.triggerKey(), kRightAlt);
}

// While the session cannot watch keys at all the source is retried, but a key found to be taken
// on a retry ends the loop with the notice.
TEST_F(Dictation, ARetryThatFindsTheKeyTakenStopsRetrying) {
    keys.startable = false;
    coordinator->start(false);
    queue.advance(AppCoordinator::kMonitorRetryInterval * 2);
    EXPECT_EQ(keys.starts, 3);
    keys.unwatchable = true;
    queue.advance(AppCoordinator::kMonitorRetryInterval);
    EXPECT_EQ(panel.calls, Calls{"show Right Alt can't be watched on this computer — choose "
                                 "another key in Settings."});
    queue.advance(30s);
    EXPECT_EQ(keys.starts, 4);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST_F(Dictation, TheControlSurfaceHoldsWithoutAKeyAndALostReleaseIsFoundByPolling) {
    coordinator->start(true);
    // The physical key stays up throughout.
    coordinator->pressFromControl();
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::recording);
    queue.advance(2s);
    EXPECT_EQ(coordinator->state().value(), State::recording);
    // The key's own press and release meanwhile belong to no recording of theirs.
    keys.press();
    keys.release();
    queue.advance(1s);
    EXPECT_EQ(coordinator->state().value(), State::recording);
    coordinator->pressFromControl();
    coordinator->releaseFromControl();
    EXPECT_EQ(coordinator->state().value(), State::stopping);
    finalResult("from control");
    queue.advance(1s);
    EXPECT_EQ(pasted(), std::vector<std::string>{"from control"});
    coordinator->releaseFromControl();
    coordinator->toggleFromControl();
    queue.runUntilIdle();
    EXPECT_EQ(coordinator->state().value(), State::recording);
    coordinator->toggleFromControl();
    EXPECT_EQ(coordinator->state().value(), State::stopping);
    finalResult("");

    // The key's release event is lost (another client grabbed the keyboard): the poll sees the
    // key up within one interval.
    holdUntilRecording();
    keys.keyDown = false;
    queue.advance(AppCoordinator::kReleasePollInterval);
    EXPECT_EQ(coordinator->state().value(), State::stopping);
    finalResult("polled");
    queue.advance(1s);
    EXPECT_EQ(pasted().back(), "polled");
}

TEST_F(Dictation, LateAnswersAfterStopChangeNothingAndDictationWorksAfterARestart) {
    coordinator->start(true);
    enableRefinement();
    holdUntilRecording();
    keys.release();
    finalResult("words");
    ASSERT_EQ(coordinator->state().value(), State::refining);
    coordinator->stop();
    EXPECT_EQ(coordinator->state().value(), State::idle);
    ASSERT_TRUE(http->answer(chatAnswer("refined words")));
    queue.advance(1s);
    EXPECT_TRUE(pasteboard.log.empty());

    // A permission answer for an attempt stopped meanwhile.
    coordinator.reset();
    make();
    coordinator->start(true);
    settings.setLLMEnabled(false);
    coordinator->updateTriggerKey(kF5);
    keys.press();
    ASSERT_EQ(coordinator->state().value(), State::preparing);
    coordinator->stop();
    queue.runUntilIdle();
    EXPECT_EQ(captureLog->started, 1);
    EXPECT_EQ(coordinator->state().value(), State::idle);

    // A hold still being confirmed when the stop comes.
    coordinator->start(true);
    coordinator->updateTriggerKey(kRightAlt);
    keys.press();
    queue.advance(100ms);
    coordinator->stop();
    queue.advance(1s);
    EXPECT_EQ(captureLog->started, 1);
    EXPECT_EQ(coordinator->state().value(), State::idle);
    keys.keyDown = false;

    coordinator->start(true);
    holdUntilRecording();
    keys.release();
    finalResult("after restart");
    queue.advance(1s);
    EXPECT_EQ(pasted(), std::vector<std::string>{"after restart"});
}

TEST_F(Dictation, ACoordinatorDestroyedMidFlowLeavesItsContinuationsHarmless) {
    coordinator->start(true);
    enableRefinement();
    // A notice's dismissal, a refinement and a hold confirmation in flight.
    captureLog->startFailure = KestruneError::recordingFailed("busy");
    keys.press();
    queue.advance(AppCoordinator::kHoldConfirmationDelay);
    queue.runUntilIdle();
    keys.release();
    captureLog->startFailure.reset();
    holdUntilRecording();
    keys.release();
    finalResult("words");
    keys.press();
    coordinator.reset();
    const auto callsAtDestruction = panel.calls;
    EXPECT_FALSE(keys.running);
    EXPECT_FALSE(keys.events.pressed);

    ASSERT_TRUE(http->answer(chatAnswer("refined")));
    queue.advance(10s);
    EXPECT_TRUE(pasteboard.log.empty());
    EXPECT_EQ(panel.calls, callsAtDestruction);
}

}  // namespace
}  // namespace kestrune
