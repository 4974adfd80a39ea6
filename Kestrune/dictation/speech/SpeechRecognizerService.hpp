#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/common/KestruneError.hpp"
#include "Kestrune/dictation/SpeechCaptureResult.hpp"
#include "Kestrune/dictation/speech/AudioCapture.hpp"
#include "Kestrune/dictation/speech/SpeechCaptureInterruptionPolicy.hpp"
#include "Kestrune/dictation/speech/SpeechEngine.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Records the default audio input while the trigger is held and streams it to the recognizer of
// the user's language, reporting the running transcript and the level for the waveform. Stopping
// lets the recognizer finish and returns the best transcript with up to three alternatives.
// Failures while starting or recording reach the error callback once, with the service already
// torn down; later ones are dropped.
//
// Threading: every member function and every callback runs on `mainQueue`. The capture's buffer
// handler runs on the audio thread and only hands the samples to the recognizer and posts the
// level; recognizer results and input changes arrive on other threads and are posted too.
class SpeechRecognizerService {
  public:
    using Status = SpeechCaptureInterruptionPolicy::Status;
    using TranscriptHandler = std::function<void(const std::string&)>;
    using AudioLevelHandler = std::function<void(float)>;
    using ErrorHandler = std::function<void(const KestruneError&)>;
    using StopOutcome = Result<SpeechCaptureResult, KestruneError>;
    using StopCompletion = std::function<void(StopOutcome)>;

    // How long the recognizer may keep refining after the end of audio before the transcript is
    // taken: long enough for the last word to be decoded, short enough not to be noticed.
    static constexpr Duration kSettlingTime = std::chrono::milliseconds(250);
    // More than three alternatives only add near-duplicates for the refinement prompt.
    static constexpr std::size_t kMaxAlternatives = 3;

    struct Dependencies {
        MainQueue& mainQueue;
        // A fresh capture for the next recording; called at construction and after each stop.
        std::function<std::unique_ptr<AudioCapture>()> makeCapture;
        // The recognizer serving a language, or `recognizerUnavailable` saying why none does.
        std::function<Result<std::shared_ptr<SpeechEngine>, KestruneError>(AppLanguage)>
            recognizerFor;
    };

    explicit SpeechRecognizerService(Dependencies dependencies);
    ~SpeechRecognizerService();
    SpeechRecognizerService(const SpeechRecognizerService&) = delete;
    SpeechRecognizerService& operator=(const SpeechRecognizerService&) = delete;

    // Drops any earlier recording and begins a new one. The handlers are kept until the next stop.
    Result<void, KestruneError> start(AppLanguage language, TranscriptHandler onTranscript,
                                      AudioLevelHandler onAudioLevel, ErrorHandler onError);

    // Ends the recording gracefully: the recognizer gets the rest of the audio, and the transcript
    // is taken at its final result, or with what it has once the settling time or its longer
    // finishing limit has passed. Without a recording it returns the last transcript at once. The
    // completion runs later on the main queue. An engine that transcribes only after recording
    // reports its failure here, since the recording itself went well.
    void stop(StopCompletion completion);

    // Tears everything down at once; a pending stop completes with what was gathered. Safe to
    // call at any time.
    void stopImmediately();

    bool isRecording() const { return isRecording_; }
    Status status() const { return policy_.status; }
    // True while a stop waits for an engine that transcribes after recording ("Transcribing…").
    bool isTranscribing() const;
    // What the panel says while isTranscribing() holds.
    static std::string transcribingText();
    const std::string& currentTranscript() const { return currentTranscript_; }

    // The words given to the recognizer: 41 common technical terms, then 3 more for English and
    // 12 mixed-language ones for every other language.
    static std::vector<std::string> contextualStrings(AppLanguage language);

    // Trimmed, without empty strings and exact duplicates, in the recognizer's order, at most
    // `kMaxAlternatives`.
    static std::vector<std::string> uniqueAlternatives(const std::vector<std::string>& transcripts);

  private:
    template <typename Work>
    void postForAttempt(std::uint64_t attempt, Work work);

    void handleResult(const SpeechRecognitionResult& result);
    void handleEngineError(const KestruneError& error);
    void handleInterruption(AudioCapture::Interruption interruption);
    void reportFailure(const KestruneError& error);
    void finishStop(Result<void, KestruneError> outcome);
    void teardown();

    MainQueue& mainQueue_;
    std::function<std::unique_ptr<AudioCapture>()> makeCapture_;
    std::function<Result<std::shared_ptr<SpeechEngine>, KestruneError>(AppLanguage)> recognizerFor_;

    std::unique_ptr<AudioCapture> capture_;
    std::shared_ptr<SpeechEngine> engine_;
    std::unique_ptr<SpeechRecognitionTask> task_;
    TranscriptHandler transcriptHandler_;
    AudioLevelHandler audioLevelHandler_;
    ErrorHandler errorHandler_;
    SpeechCaptureInterruptionPolicy policy_;
    std::string currentTranscript_;
    std::vector<std::string> currentAlternatives_;
    bool isRecording_ = false;

    std::vector<StopCompletion> stopCompletions_;
    std::optional<TaskId> stopDeadline_;

    // Work posted from other threads carries the attempt it belongs to; anything from an earlier
    // attempt, or arriving after the service is gone, is dropped.
    std::uint64_t attempt_ = 0;
    // Last, so that it goes first. The audio thread makes guarded callbacks too; it is stopped
    // before the service goes.
    Lifetime lifetime_;
};

}  // namespace kestrune
