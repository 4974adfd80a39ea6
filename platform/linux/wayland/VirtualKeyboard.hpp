#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrune::wayland {

// Key events for every window of a wlroots session through one zwp_virtual_keyboard_v1, on its
// own connection to the compositor. Characters on the user's layout go by their keys; the others
// on spare keycodes of a keymap uploaded for each batch of them. Use from one thread.
class VirtualKeyboard {
  public:
    // The pause after each key event. Sent unpaced, 4,096 characters overflowed a GTK client's
    // socket and the compositor disconnected it; 1 ms per event was exact.
    static constexpr std::chrono::microseconds kEventPause{1000};
    // A seat that had no keyboard tells its clients about the new one asynchronously; keys sent
    // before they have bound it are lost.
    static constexpr std::chrono::milliseconds kNewSeatKeyboardSettle{200};
    // How long a spare keycode keeps its character after its last use before it may carry
    // another. X clients under XWayland read the keymap afresh when it changes and translate keys
    // still queued with the new one: a keycode reassigned while they lag behind gives wrong
    // characters. Characters keep their keycodes across batches and the least recently used one
    // goes first, so this wait comes only after more distinct characters than there are spares.
    static constexpr std::chrono::milliseconds kReassignSettle{250};

    // Null when no compositor answers or it offers no virtual keyboard (the reason is logged).
    static std::unique_ptr<VirtualKeyboard> open();
    ~VirtualKeyboard();
    VirtualKeyboard(const VirtualKeyboard&) = delete;
    VirtualKeyboard& operator=(const VirtualKeyboard&) = delete;

    // Types one piece of text exactly. Line feed, carriage return and tab are pressed as Return
    // and Tab.
    void typeText(std::string_view utf8);
    // Presses and releases one key given by its virtual key code (36 Return, 48 Tab, …).
    void pressKey(std::uint16_t virtualKeyCode);
    // Ctrl+V, or Ctrl+Shift+V when the active window's application id names a terminal (where the
    // compositor tells: zwlr_foreign_toplevel_manager_v1).
    void pressPasteShortcut();
    // The compositor closed the connection; this keyboard can do nothing more.
    bool isBroken() const;

    struct Impl;

  private:
    explicit VirtualKeyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune::wayland
