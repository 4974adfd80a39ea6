#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrune::x11 {

// Synthesises keyboard input with XTest on its own X connection. Characters on the current
// keymap are typed by their keys (with Shift where the keymap puts them); any other character is
// typed through a spare keycode temporarily mapped to its Unicode keysym. Use from one thread.
class Typist {
  public:
    // Null when there is no display or it lacks XTest (the reason is logged).
    static std::unique_ptr<Typist> open();
    ~Typist();
    Typist(const Typist&) = delete;
    Typist& operator=(const Typist&) = delete;

    // How long a receiver may take to show it has handled the keys typed so far before it is
    // taken to be hung and typing goes on. Giving up types wrong characters, so this is far
    // longer than the 5 s after which window managers call an application "not responding": a
    // receiver starved of CPU fell 15 to 40 s behind on 4,096 characters (load average 28 on 2
    // cores with two busy processes), though text paced by these waits keeps it close.
    static constexpr std::chrono::milliseconds kCatchUpLimit{30000};
    // The pause before re-mapping a keycode typed into a window that cannot show it has caught
    // up (it does not answer pings). 50 ms held on an idle machine and corrupted text on a busy
    // one; this is five times that, paid once per batch of keycodes rather than per character.
    static constexpr std::chrono::milliseconds kUnansweredSettleTime{250};

    // Types one chunk of text. Line feed, carriage return and tab are pressed as Return and Tab.
    // Characters put on spare keycodes stay there for the next chunks until restoreKeymap().
    void typeText(std::string_view utf8);
    // Gives the borrowed keycodes back, once the receiver has handled the keys typed with them.
    // Also done on destruction.
    void restoreKeymap();
    bool hasBorrowedKeycodes() const;
    // The X server went away; this typist can do nothing more.
    bool isBroken() const;
    // Presses and releases one key given by its virtual key code (36 Return, 48 Tab, …).
    void pressKey(std::uint16_t virtualKeyCode);
    // Ctrl+V, or Ctrl+Shift+V when the focused window belongs to a terminal.
    void pressPasteShortcut();

    struct Impl;

  private:
    explicit Typist(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// True when the display offers XTest and XInput 2.0 or later: what synthesising input and
// watching the trigger key need. False without a display.
bool isTrusted();

// Whether an X display can be opened now. Quiet: the caller tells the user why not.
bool displayAvailable();

}  // namespace kestrune::x11
