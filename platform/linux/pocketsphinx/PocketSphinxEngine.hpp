#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Kestrune/dictation/speech/SpeechEngine.hpp"

namespace kestrune {

// The built-in offline recognizer: pocketsphinx with the distribution's US English model. Each
// recording decodes on its own thread, fed by a lock-free ring that the audio thread fills, so
// PulseAudio's thread never waits for the decoder. Partial transcripts come a few times a second,
// the final one with the decoder's n-best list right after the end of audio.
//
// Threading: isAvailable and startTask on the main thread; results from the decoding thread. One
// recording at a time (the service cancels the previous one before starting the next); a
// cancelled recording's thread ends its decoder pass on its own and is joined later, the next
// recording waiting for the decoder on its own thread.
class PocketSphinxEngine final : public SpeechEngine {
  public:
    static constexpr std::string_view kLocale = "en-US";
    // Where Debian's pocketsphinx-en-us installs the model.
    static constexpr std::string_view kDefaultModelFolder = "/usr/share/pocketsphinx/model/en-us";
    // Finishing takes 0.1–0.15 s on an idle desktop and was measured up to 1.2 s on a saturated
    // one; past the limit the transcript so far is taken, so it must not cut off the last words
    // of a busy machine, yet bounds the wait when the decoder is stuck.
    static constexpr std::chrono::milliseconds kFinishingLimit{2'500};

    struct Options {
        std::filesystem::path modelFolder{std::string(kDefaultModelFolder)};
        std::chrono::milliseconds finishingLimit = kFinishingLimit;
    };

    PocketSphinxEngine();
    explicit PocketSphinxEngine(Options options);
    ~PocketSphinxEngine() override;

    bool isAvailable(std::string_view locale) const override;
    std::chrono::milliseconds finishingLimit() const override { return options_.finishingLimit; }
    bool transcribesAfterRecording() const override { return false; }
    Result<std::unique_ptr<SpeechRecognitionTask>, KestruneError> startTask(
        SpeechRecognitionRequest request, SpeechRecognitionTask::Handlers handlers) override;

    // Loads the model now (a few tenths of a second) rather than during the first recording.
    // Any thread. False when it cannot be loaded.
    bool preload();

    struct Decoder;
    struct Decoding;

  private:
    // A cancelled recording's thread, still finishing its decoder pass.
    struct Retired {
        std::thread thread;
        std::shared_ptr<Decoding> decoding;
    };

    std::shared_ptr<Decoder> decoder();
    void retire(std::thread thread, std::shared_ptr<Decoding> decoding);

    Options options_;
    std::mutex loadMutex_;
    std::shared_ptr<Decoder> decoder_;
    std::mutex retiredMutex_;
    std::vector<Retired> retired_;
};

}  // namespace kestrune
