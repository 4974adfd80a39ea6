#include "platform/linux/wayland/WaylandDirectTyping.hpp"

#include "platform/linux/wayland/VirtualKeyboard.hpp"

namespace kestrune::wayland {

DirectTyping::DirectTyping() = default;

DirectTyping::~DirectTyping() = default;

VirtualKeyboard* DirectTyping::keyboard() {
    // A compositor that closed our connection may still be there (a protocol error on our side):
    // a new connection then.
    if (keyboard_ && keyboard_->isBroken()) keyboard_.reset();
    // One attempt per run: without a compositor every chunk would log the same failure again.
    if (!keyboard_ && !openFailed_) {
        keyboard_ = VirtualKeyboard::open();
        openFailed_ = !keyboard_;
    }
    return keyboard_.get();
}

void DirectTyping::post(const std::string& chunk) {
    if (auto* k = keyboard()) k->typeText(chunk);
}

void DirectTyping::pressKey(std::uint16_t virtualKeyCode) {
    if (auto* k = keyboard()) k->pressKey(virtualKeyCode);
}

void DirectTyping::pressPasteShortcut() {
    if (auto* k = keyboard()) k->pressPasteShortcut();
}

}  // namespace kestrune::wayland
