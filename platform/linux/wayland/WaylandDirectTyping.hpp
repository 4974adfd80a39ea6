#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrune::wayland {

class VirtualKeyboard;

// The wlroots side of direct typing: the `post` and `pressKey` operations of DirectTextInjector,
// and the paste shortcut, all run on the injector's serial queue. The virtual keyboard is made on
// first use and kept for the run: a seat that gains a keyboard loses the first keys sent to it.
class DirectTyping {
  public:
    DirectTyping();
    // Destroy after the injector's queue has stopped (its thread joined).
    ~DirectTyping();
    DirectTyping(const DirectTyping&) = delete;
    DirectTyping& operator=(const DirectTyping&) = delete;

    void post(const std::string& chunk);
    void pressKey(std::uint16_t virtualKeyCode);
    void pressPasteShortcut();

  private:
    VirtualKeyboard* keyboard();

    std::unique_ptr<VirtualKeyboard> keyboard_;
    bool openFailed_ = false;
};

}  // namespace kestrune::wayland
