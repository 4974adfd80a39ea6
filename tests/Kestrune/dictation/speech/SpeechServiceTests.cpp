// The service's rules in virtual time, with stand-ins for the capture and the recognizer: which
// failures reach the error callback, what stopping waits for and returns, and what late work
// from a finished recording may still do.
#include <gtest/gtest.h>

#include <cmath>

#include "Kestrune/dictation/speech/AudioLevel.hpp"
#include "Kestrune/dictation/speech/AudioSampleRing.hpp"
#include "Kestrune/dictation/speech/PermissionCoordinator.hpp"
#include "Kestrune/dictation/speech/SpeechEngineSelector.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/SpeechFakes.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Status = SpeechRecognizerService::Status;

class SpeechServiceTest : public ::testing::Test {
  protected:
    SpeechServiceTest() {
        engine->limit = 2s;
        service = std::make_unique<SpeechRecognizerService>(SpeechRecognizerService::Dependencies{
            queue, [log = captureLog] { return std::make_unique<testing::FakeAudioCapture>(log); },
            [this](AppLanguage) -> Result<std::shared_ptr<SpeechEngine>, KestruneError> {
                return std::shared_ptr<SpeechEngine>(engine);
            }});
    }

    void start(AppLanguage language = AppLanguage::english) {
        ASSERT_TRUE(service
                        ->start(
                            language, [this](const std::string& t) { transcripts.push_back(t); },
                            [this](float level) { levels.push_back(level); },
                            [this](const KestruneError& e) { errors.push_back(e); })
                        .ok());
    }

    void result(std::string best, std::vector<std::string> all, bool isFinal = false) {
        engine->log->handlers.onResult({std::move(best), std::move(all), isFinal});
    }

    std::optional<SpeechRecognizerService::StopOutcome> stop() {
        auto outcome = std::make_shared<std::optional<SpeechRecognizerService::StopOutcome>>();
        service->stop([outcome](SpeechRecognizerService::StopOutcome o) { *outcome = o; });
        stopOutcomes.push_back(outcome);
        return std::nullopt;
    }

    std::optional<SpeechRecognizerService::StopOutcome> lastStop() const {
        return *stopOutcomes.back();
    }

    ManualMainQueue queue;
    std::shared_ptr<testing::FakeCaptureLog> captureLog =
        std::make_shared<testing::FakeCaptureLog>();
    std::shared_ptr<testing::FakeSpeechEngine> engine =
        std::make_shared<testing::FakeSpeechEngine>();
    std::unique_ptr<SpeechRecognizerService> service;
    std::vector<std::string> transcripts;
    std::vector<float> levels;
    std::vector<KestruneError> errors;
    std::vector<std::shared_ptr<std::optional<SpeechRecognizerService::StopOutcome>>> stopOutcomes;
};

TEST_F(SpeechServiceTest, ARecordingStreamsAudioLevelsAndTranscriptsOnTheMainQueue) {
    start();
    EXPECT_EQ(service->status(), Status::recording);
    const std::vector<float> buffer(AudioCapture::kBufferFrames, 0.01f);
    captureLog->handlers.onBuffer(buffer);
    result("hello", {"hello", " hello ", "", "hullo"});
    // Nothing reaches the callbacks from the platform's threads directly.
    EXPECT_TRUE(levels.empty());
    EXPECT_TRUE(transcripts.empty());
    queue.runUntilIdle();
    EXPECT_EQ(engine->log->samplesAppended, AudioCapture::kBufferFrames);
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_NEAR(levels[0], 0.33f, 0.01f);
    EXPECT_EQ(transcripts, std::vector<std::string>{"hello"});

    const int capturesBeforeStop = captureLog->made;
    stop();
    EXPECT_TRUE(engine->log->audioEnded);
    EXPECT_EQ(levels.back(), 0.0f);
    result("hello world", {"hello world", "hello word"}, true);
    queue.runUntilIdle();
    // The final result ends the wait at once.
    ASSERT_TRUE(lastStop());
    EXPECT_EQ(lastStop()->value(),
              (SpeechCaptureResult{"hello world", {"hello world", "hello word"}}));
    EXPECT_EQ(service->status(), Status::idle);
    EXPECT_FALSE(service->isRecording());
    // A fresh capture waits for the next recording.
    EXPECT_EQ(captureLog->made, capturesBeforeStop + 1);
}

TEST_F(SpeechServiceTest, WithoutAFinalResultStopReturnsWhatItHasAtTheFinishingLimit) {
    start();
    result("partial words", {"partial words"});
    stop();
    queue.advance(SpeechRecognizerService::kSettlingTime);
    EXPECT_FALSE(lastStop()) << "the engine still has time to finish";
    queue.advance(engine->limit - SpeechRecognizerService::kSettlingTime);
    ASSERT_TRUE(lastStop());
    EXPECT_EQ(lastStop()->value().transcript, "partial words");
}

TEST_F(SpeechServiceTest, AnErrorWhileSettlingIsNotReportedAndTheTranscriptSoFarIsReturned) {
    start();
    result("so far", {"so far"});
    queue.runUntilIdle();
    stop();
    queue.advance(100ms);
    engine->log->handlers.onError(KestruneError::recordingFailed("recognizer timed out"));
    queue.runUntilIdle();
    EXPECT_TRUE(errors.empty());
    ASSERT_TRUE(lastStop());
    ASSERT_TRUE(lastStop()->ok());
    EXPECT_EQ(lastStop()->value().transcript, "so far");
}

TEST_F(SpeechServiceTest, AnUploadingEngineReportsItsFailureThroughStop) {
    engine->afterRecording = true;
    start();
    stop();
    EXPECT_TRUE(service->isTranscribing());
    engine->log->handlers.onError(KestruneError::recordingFailed("service said no"));
    queue.runUntilIdle();
    EXPECT_TRUE(errors.empty());
    ASSERT_TRUE(lastStop());
    EXPECT_EQ(lastStop()->error(), KestruneError::recordingFailed("service said no"));
    EXPECT_FALSE(service->isTranscribing());
}

TEST_F(SpeechServiceTest, AnInputChangeWhileRecordingIsReportedOnceWithTheServiceTornDown) {
    start();
    const int stoppedBefore = captureLog->stopped;
    captureLog->handlers.onInterruption(AudioCapture::Interruption::configurationChanged);
    auto secondReport = captureLog->handlers.onInterruption;
    engine->log->handlers.onError(KestruneError::recordingFailed("recognizer gave up"));
    queue.runUntilIdle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
              KestruneError::recordingFailed(localized("Audio input changed. Please try again.")));
    EXPECT_EQ(service->status(), Status::idle);
    EXPECT_EQ(captureLog->stopped, stoppedBefore + 1);
    EXPECT_EQ(engine->log->cancelled, 1);
    // A late report through a handler kept from the torn-down recording is dropped too.
    secondReport(AudioCapture::Interruption::serverLost);
    queue.runUntilIdle();
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(SpeechServiceTest, WorkPostedForAnEarlierRecordingDoesNotReachTheNextOne) {
    start();
    auto oldResult = engine->log->handlers.onResult;
    result("first recording", {"first recording"});
    captureLog->handlers.onBuffer(std::vector<float>(AudioCapture::kBufferFrames, 0.5f));
    start();  // drops the first recording before its result and level were delivered
    oldResult({"late words", {"late words"}, true});
    queue.runUntilIdle();
    EXPECT_TRUE(transcripts.empty());
    EXPECT_TRUE(levels.empty());
    EXPECT_EQ(service->currentTranscript(), "");
}

TEST_F(SpeechServiceTest, StopWithoutARecordingReturnsTheLastTranscriptWithoutANewCapture) {
    start();
    result("kept", {"kept"});
    stop();
    result("kept", {"kept"}, true);
    queue.runUntilIdle();
    const int made = captureLog->made;
    stop();
    queue.runUntilIdle();
    ASSERT_TRUE(lastStop());
    EXPECT_EQ(lastStop()->value().transcript, "kept");
    EXPECT_EQ(captureLog->made, made);
}

TEST_F(SpeechServiceTest, StopImmediatelyWhileSettlingCompletesTheStopWithWhatItHas) {
    start();
    result("half", {"half"});
    queue.runUntilIdle();
    stop();
    service->stopImmediately();
    queue.runUntilIdle();
    ASSERT_TRUE(lastStop());
    EXPECT_EQ(lastStop()->value().transcript, "half");
    EXPECT_TRUE(errors.empty());
}

TEST_F(SpeechServiceTest, StartFailuresLeaveNothingRunning) {
    captureLog->formats.delivered = {44'100, 2};
    auto switching = service->start(AppLanguage::english, nullptr, nullptr, nullptr);
    ASSERT_FALSE(switching.ok());
    EXPECT_EQ(switching.error(), KestruneError::recordingFailed(
                                     localized("Audio input is switching. Please try again.")));
    EXPECT_EQ(engine->log->cancelled, 1);
    EXPECT_EQ(service->status(), Status::idle);

    captureLog->startFailure = KestruneError::recordingFailed("no server");
    EXPECT_EQ(service->start(AppLanguage::english, nullptr, nullptr, nullptr).error(),
              KestruneError::recordingFailed("no server"));
    EXPECT_FALSE(service->isRecording());

    engine->available = false;
    EXPECT_EQ(service->start(AppLanguage::english, nullptr, nullptr, nullptr).error().kind(),
              KestruneError::Kind::recognizerUnavailable);
}

TEST_F(SpeechServiceTest, TheRecognizerGetsTheLocaleAndContextualStringsOfTheLanguage) {
    start(AppLanguage::english);
    start(AppLanguage::japanese);
    ASSERT_EQ(engine->log->requests.size(), 2u);
    EXPECT_EQ(engine->log->requests[0].locale, "en-US");
    EXPECT_EQ(engine->log->requests[0].contextualStrings.size(), 44u);
    EXPECT_EQ(engine->log->requests[0].contextualStrings.back(), "繁体中文");
    EXPECT_EQ(engine->log->requests[1].locale, "ja-JP");
    EXPECT_EQ(engine->log->requests[1].contextualStrings.size(), 53u);
    EXPECT_EQ(engine->log->requests[1].contextualStrings[40], "log");
}

TEST(SpeechAlternatives, AreTrimmedDistinctAndAtMostThree) {
    EXPECT_EQ(SpeechRecognizerService::uniqueAlternatives({"a", " a ", "", "b", "c", "d"}),
              (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SpeechLevel, FollowsTheCurve) {
    EXPECT_EQ(audioLevel({}), 0.0f);
    EXPECT_EQ(audioLevel(std::vector<float>(1024, 0.0f)), 0.0f);
    std::vector<float> square(1024);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 16) % 2 ? 1.0f : -1.0f;
    EXPECT_EQ(audioLevel(square), 1.0f);
    EXPECT_NEAR(audioLevel(std::vector<float>(1024, 0.01f)), 4.2f * std::pow(0.01f, 0.55f), 1e-4);
}

TEST(SpeechSampleRing, KeepsOrderAcrossTheWrapAndDropsWhatDoesNotFit) {
    AudioSampleRing ring(8);
    std::vector<float> out(8);
    ring.write(std::vector<float>{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(ring.read(std::span(out).first(4)), 4u);
    EXPECT_EQ(ring.write(std::vector<float>{7, 8, 9, 10, 11, 12, 13}), 6u);
    EXPECT_EQ(ring.droppedCount(), 1u);
    EXPECT_EQ(ring.read(out), 8u);
    EXPECT_EQ(out, (std::vector<float>{5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(ring.read(out), 0u);
}

TEST(SpeechEngineChoice, FollowsThePreferenceAndNamesTheMissingSetting) {
    auto builtIn = std::make_shared<testing::FakeSpeechEngine>();
    builtIn->onlyLocale = "en-US";
    auto online = std::make_shared<testing::FakeSpeechEngine>();
    auto preference = SpeechEnginePreference::automatic;
    SpeechEngineSelector selector({builtIn, online, [&] { return preference; }});
    EXPECT_EQ(selector.recognizerFor(AppLanguage::english).value(), builtIn);
    EXPECT_EQ(selector.recognizerFor(AppLanguage::korean).value(), online);
    preference = SpeechEnginePreference::online;
    EXPECT_EQ(selector.recognizerFor(AppLanguage::english).value(), online);

    online->available = false;
    const auto noKey = selector.recognizerFor(AppLanguage::english);
    ASSERT_FALSE(noKey.ok());
    EXPECT_EQ(noKey.error().localizedDescription(),
              localized("Speech recognizer is unavailable for the selected language.") + " " +
                  localized("In Settings → Speech, enter the API key for online transcription, or "
                            "the address of your own transcription server."));
    preference = SpeechEnginePreference::builtIn;
    EXPECT_NE(selector.recognizerFor(AppLanguage::japanese).error().message().find("English only"),
              std::string::npos);
    EXPECT_EQ(speechEnginePreferenceFromRawValue("builtIn"), SpeechEnginePreference::builtIn);
    EXPECT_EQ(speechEnginePreferenceFromRawValue("Auto"), std::nullopt);
}

TEST(SpeechPermissions, AskBothAndGrantOnlyWhenBothAnswerYes) {
    ManualMainQueue queue;
    std::vector<std::string> asked;
    std::optional<bool> granted;
    PermissionCoordinator::requestSpeechAndMicrophonePermissions(
        {queue,
         [&] {
             asked.push_back("speech");
             return false;
         },
         [&](std::function<void(bool)> answer) {
             asked.push_back("microphone");
             answer(true);
         }},
        [&](bool answer) { granted = answer; });
    EXPECT_FALSE(granted) << "the answer comes later, on the main queue";
    queue.runUntilIdle();
    EXPECT_EQ(asked, (std::vector<std::string>{"speech", "microphone"}));
    EXPECT_EQ(granted, false);
}

}  // namespace
}  // namespace kestrune
