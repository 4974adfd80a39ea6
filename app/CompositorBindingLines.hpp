#pragma once

#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class UserDefaults;

namespace app {

// The stored trigger key has no keysym a compositor could bind (Fn); the sentence says so.
struct UnbindableTriggerKey {
    std::string sentence;
};

// What `murrelo ctl bindings` prints: the compositor lines for the stored trigger key and Send
// to Phone shortcut, spelled with the keysyms of the user's layout.
Result<std::string, UnbindableTriggerKey> compositorBindingLines(const UserDefaults& settings,
                                                                 std::string_view program);

}  // namespace app
}  // namespace kestrune
