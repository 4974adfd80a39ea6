#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Kestrune/hotkey/GlobalHotKey.hpp"

namespace kestrune {

// What the shortcut recorder shows and decides, apart from how it listens to the keyboard. While
// it records, the live shortcut is suspended (through `onRecordingChange`), so pressing the
// current shortcut records it instead of firing it. Main thread only.
class HotKeyRecording {
  public:
    struct Dependencies {
        // True when recording starts, false when it stops.
        std::function<void(bool)> onRecordingChange;
        // A new shortcut, or none when cleared.
        std::function<void(std::optional<GlobalHotKey>)> onChange;
    };

    explicit HotKeyRecording(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

    bool isRecording() const { return isRecording_; }
    const std::string& message() const { return message_; }

    void start();
    // Also when the view goes away or the window closes; nothing happens when not recording.
    void stop();
    // A key press while recording: Escape stops and keeps the message, a refusal explains itself
    // and keeps recording, anything else becomes the shortcut.
    void handleKey(std::uint16_t keyCode, std::uint64_t modifiers);
    void clear();

    std::string display(const std::optional<GlobalHotKey>& current) const;
    std::string caption() const;
    std::string buttonTitle() const;
    // "Clear" is offered only when not recording and a shortcut is set.
    bool offersClear(const std::optional<GlobalHotKey>& current) const {
        return !isRecording_ && current.has_value();
    }

  private:
    Dependencies dependencies_;
    bool isRecording_ = false;
    std::string message_;
};

}  // namespace kestrune
