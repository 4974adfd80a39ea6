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

    // Receivers re-read the keymap when it changes; changing a keycode again sooner than this
    // after a key event used it makes Qt and GTK read the new symbol for the old event (10 ms
    // corrupted text in both, 50 ms held; measured under Xvfb).
    static constexpr std::chrono::milliseconds keycodeSettleTime{50};

    // Types one chunk of text. Line feed, carriage return and tab are pressed as Return and Tab.
    // Characters put on spare keycodes stay there for the next chunks until restoreKeymap().
    void typeText(std::string_view utf8);
    // Gives the borrowed keycodes back (each after its settle time). Also done on destruction.
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

}  // namespace kestrune::x11
