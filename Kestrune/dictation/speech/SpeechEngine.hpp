#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/common/KestruneError.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// What one recording asks of a recognizer.
struct SpeechRecognitionRequest {
    // "en-US", "zh-CN", … (the `AppLanguage` raw value).
    std::string locale;
    // Words the speaker is likely to use; an engine may ignore them.
    std::vector<std::string> contextualStrings;
};

// A transcript so far (partial) or the last one of the recording (final).
struct SpeechRecognitionResult {
    std::string bestTranscript;
    // Every transcript the engine offers, best first, as it gives them.
    std::vector<std::string> transcripts;
    bool isFinal = false;
};

// One recording's recognition. The audio arrives through `append` while the user speaks; after
// `endAudio` the engine delivers its final result or an error.
class SpeechRecognitionTask {
  public:
    struct Handlers {
        // Any thread; partial results may come while audio arrives, one final result at the end.
        std::function<void(SpeechRecognitionResult)> onResult;
        // Any thread, at most once; no result follows it.
        std::function<void(KestruneError)> onError;
    };

    virtual ~SpeechRecognitionTask() = default;

    // The audio thread: mono samples in the capture's client format. Never blocks or allocates.
    virtual void append(std::span<const float> samples) = 0;

    // Main thread: no more audio comes; the final result follows.
    virtual void endAudio() = 0;

    // Main thread: stops at once. When it returns no handler runs any more.
    virtual void cancel() = 0;
};

// A speech recognizer: the built-in offline one or an online service.
class SpeechEngine {
  public:
    virtual ~SpeechEngine() = default;

    // Whether the engine can recognize `locale` now (model installed, service configured).
    virtual bool isAvailable(std::string_view locale) const = 0;

    // The longest the engine may take from `endAudio` to its final result; the service waits
    // that long at most before it returns what it has.
    virtual std::chrono::milliseconds finishingLimit() const = 0;

    // True when the text is only produced after the recording ends (an upload), so the user
    // should be told that transcription is under way.
    virtual bool transcribesAfterRecording() const = 0;

    virtual Result<std::unique_ptr<SpeechRecognitionTask>, KestruneError> startTask(
        SpeechRecognitionRequest request, SpeechRecognitionTask::Handlers handlers) = 0;
};

}  // namespace kestrune
