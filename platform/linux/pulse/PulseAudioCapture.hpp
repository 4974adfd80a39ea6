#pragma once

#include <chrono>
#include <memory>

#include "Kestrune/dictation/speech/AudioCapture.hpp"

namespace kestrune {

// Records the default source of the session's PulseAudio server (PipeWire answers the same
// protocol) as 16 kHz mono float samples, through libpulse's threaded main loop. The loop's thread
// is the audio thread: it cuts what the server sends into 1,024-frame buffers for the handler
// without locking or allocating, and watches for the input changing under the recording (the
// default source switched, the source removed or suspended, the stream moved, the server gone).
//
// Threading: construct, start and stop on one thread (the service's main queue); the handlers run
// on the loop's thread, which stop() ends before it returns.
class PulseAudioCapture final : public AudioCapture {
  public:
    // A server that has not answered within this time is hung; a live one answers in
    // milliseconds, and waking a suspended source takes under a second.
    static constexpr std::chrono::milliseconds kAnswerLimit{5'000};

    PulseAudioCapture();
    ~PulseAudioCapture() override;
    PulseAudioCapture(const PulseAudioCapture&) = delete;
    PulseAudioCapture& operator=(const PulseAudioCapture&) = delete;

    Result<Formats, KestruneError> start(Handlers handlers) override;
    void stop() override;

    // Whether a server answers and has a default source to record from: the microphone
    // "permission" of this desktop. Blocks for one round trip, at most `kAnswerLimit`.
    static bool inputAvailable();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune
