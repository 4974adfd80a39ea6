#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class UserDefaults;

namespace app {

// The stored trigger key has no keysym a compositor could bind (Fn); the sentence says so.
struct UnbindableTriggerKey {
    std::string sentence;
};

// The compositor lines for a trigger key and Send to Phone shortcut, spelled with the keysyms of
// the user's layout.
Result<std::string, UnbindableTriggerKey> compositorBindingLines(
    const TriggerKey& trigger, const std::optional<GlobalHotKey>& shortcut,
    std::string_view program);
// What `murrelo ctl bindings` prints: the same for the stored keys.
Result<std::string, UnbindableTriggerKey> compositorBindingLines(const UserDefaults& settings,
                                                                 std::string_view program);

}  // namespace app
}  // namespace kestrune
