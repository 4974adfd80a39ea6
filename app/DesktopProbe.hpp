#pragma once

#include "Kestrune/common/DesktopSession.hpp"

namespace kestrune::app {

// What this session offers, asked once at start: X11 or Wayland (WAYLAND_DISPLAY,
// XDG_SESSION_TYPE), the compositor's globals after one round trip, and whether an X display
// (XWayland under Wayland) can be opened.
DesktopSession probeDesktopSession();

}  // namespace kestrune::app
