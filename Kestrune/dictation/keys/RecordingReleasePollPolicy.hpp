#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "Kestrune/dictation/keys/RecordingGate.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"

namespace kestrune {

// The current state of the keyboard as the platform reports it, read while polling for a lost
// release: one key by its virtual code, and the modifier flags (device-dependent bits included).
struct KeyboardState {
    std::function<bool(std::uint16_t keyCode)> isKeyDown;
    std::function<std::uint64_t()> modifierFlags;
};

// Polls the trigger key while a recording is being prepared or runs, in case its release event is
// lost (a grab by another client, a monitor restart).
struct RecordingReleasePollPolicy {
    static constexpr std::chrono::milliseconds kPollInterval{80};

    static bool shouldContinuePolling(const RecordingGate& gate);
    static bool isTriggerKeyDown(const TriggerKey& key, const KeyboardState& state);
};

}  // namespace kestrune
