#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Kestrune/dictation/keys/TriggerKey.hpp"

namespace kestrune {

// What the trigger-key recorder shows and decides, apart from how it listens to the keyboard.
// Main thread only.
class TriggerKeyRecording {
  public:
    // Escape's catalog code: it cancels instead of being bound.
    static constexpr std::int64_t kEscapeKeyCode = 53;

    bool isRecording() const { return isRecording_; }
    const std::string& message() const { return message_; }

    // Starting clears the last message.
    void start();
    void stop();

    // A key pressed while recording (its catalog code): the key to bind, which also stops the
    // recording, or none — Escape stops, a key needed for typing is refused and recording goes on.
    std::optional<TriggerKey> handleKey(std::int64_t keyCode);

    // The key's title, or "Press a key…" while recording.
    std::string display(const TriggerKey& current) const;
    // The message; else what to do while recording; else the warning about suppression.
    std::string hint() const;
    // The button's label.
    std::string buttonTitle() const;

  private:
    bool isRecording_ = false;
    std::string message_;
};

}  // namespace kestrune
