#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace kestrune::x11 {

// Translation between the virtual key codes the settings store (the catalog's codes), Linux evdev
// codes and X keycodes (evdev + 8, limited to 8..255 by the core protocol).
std::optional<int> evdevCode(std::int64_t virtualKeyCode);
std::optional<std::int64_t> virtualKeyCode(int evdevCode);
// None when the key has no evdev code or lies beyond the X keycode range (Fn: KEY_FN is 464).
std::optional<int> xKeycode(std::int64_t virtualKeyCode);
std::optional<std::int64_t> virtualKeyCodeForXKeycode(int xKeycode);

// The modifier flags (device-dependent bits included) that a set of pressed keys amounts to,
// synthesised because X reports only device-independent modifier state.
std::uint64_t modifierFlags(const std::function<bool(int xKeycode)>& isDown);

}  // namespace kestrune::x11
