#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "Kestrune/common/KestruneError.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// A stream's sample rate and channel count.
struct AudioFormat {
    double sampleRate = 0;
    int channelCount = 0;
    bool operator==(const AudioFormat&) const = default;
};

// Records the default audio input. One object serves one recording: the service makes a fresh
// one after every stop. Created, started and stopped on the main thread; the handlers run on the
// capture's own threads.
class AudioCapture {
  public:
    // What the recognizers are given: 16 kHz mono, the rate speech models are trained on.
    static constexpr AudioFormat kClientFormat{16'000, 1};
    // 1,024 frames at 16 kHz: the level moves about sixteen times a second.
    static constexpr std::size_t kBufferFrames = 1024;

    // Why audio stopped flowing mid-recording.
    enum class Interruption {
        // The default input changed, or the stream's input was removed, suspended or moved.
        configurationChanged,
        // The audio server went away.
        serverLost,
    };

    struct Handlers {
        // Audio thread, once per buffer of `kBufferFrames` samples in the client format. Must not
        // block; the samples are valid only during the call.
        std::function<void(std::span<const float>)> onBuffer;
        // The capture's own thread, at most once per started capture.
        std::function<void(Interruption)> onInterruption;
    };

    // The format the server delivers on the stream and the one this capture asked for; the
    // server converts, so they differ only while the input is being switched under the stream.
    struct Formats {
        AudioFormat delivered;
        AudioFormat requested;
    };

    virtual ~AudioCapture() = default;

    // Connects to the audio server and starts the stream; returns once audio can flow, with a
    // `recordingFailed` that says what is missing otherwise. Never waits without a limit.
    virtual Result<Formats, KestruneError> start(Handlers handlers) = 0;

    // Stops the stream. When it returns, no handler is running and none will run again. Safe to
    // call at any time, also more than once.
    virtual void stop() = 0;
};

}  // namespace kestrune
