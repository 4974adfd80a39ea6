#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/SwaySession.hpp"

// The headless sway that the Wayland test program starts once for all its cases, and the
// receiving applications started in it.
namespace kestrune::testing {

// How long a new window may take to get the keyboard focus.
constexpr auto focusLimit = std::chrono::seconds(20);

// The program's sway; null when it could not start (swayMissing() says why).
extern SwaySession* sway;
const std::string& swayMissing();

// "qt-wayland" and "gtk-wayland": toolkits on Wayland itself; "gtk-xwayland": an X11 one under
// XWayland.
std::unique_ptr<ReceiverProcess> startReceiver(const std::string& kind);

}  // namespace kestrune::testing
