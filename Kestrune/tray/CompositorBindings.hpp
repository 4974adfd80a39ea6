#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune::tray {

// The keys of push-to-talk and the Send to Phone shortcut as a compositor names them: XKB keysym
// names on the user's layout ("Alt_R", "k"), and the shortcut's modifier bits (GlobalHotKey's).
struct BindingKeys {
    std::string trigger;
    std::optional<std::string> sendKey;
    std::uint64_t sendModifiers = 0;
};

// The lines a wlroots compositor's configuration needs so that its own key bindings run
// push-to-talk (`ctl dictation press` on the key's press, `release` on its release) and Send to
// Phone through `program`: sway's spelling, then Hyprland's.
std::string compositorBindings(std::string_view program, const BindingKeys& keys);

}  // namespace kestrune::tray
