#pragma once

#include <functional>
#include <string>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// What the start-at-login facility reports about our entry; `unrecognised` is any answer outside
// the two.
enum class LoginItemStatus { notRegistered, enabled, unrecognised };

// The start-at-login facility as values, so the switch's rules run without touching the desktop.
// Every operation runs on the caller's thread (the main queue in the application).
struct LoginItem {
    // True when the running program is the installed application (only that may start at login:
    // a build tree moves and disappears).
    bool isInstalled = false;
    std::function<LoginItemStatus()> readStatus;
    // Adding and removing our entry; a failure is the system's error text, shown to the user.
    std::function<Result<void, std::string>()> registerItem;
    std::function<Result<void, std::string>()> unregisterItem;
};

}  // namespace kestrune
