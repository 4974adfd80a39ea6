#include "app/DesktopProbe.hpp"

#include <cstdlib>
#include <string_view>

#include "platform/linux/wayland/CompositorGlobals.hpp"
#include "platform/linux/x11/X11Typist.hpp"

namespace kestrune::app {

namespace {

bool environmentSays(const char* name, std::string_view value = {}) {
    const char* set = std::getenv(name);
    return set != nullptr && *set != '\0' && (value.empty() || value == set);
}

}  // namespace

DesktopSession probeDesktopSession() {
    DesktopSession session;
    session.xDisplay = x11::displayAvailable();
    // An X11 session is never asked about Wayland: a compositor socket left in the runtime
    // folder must not change what it uses.
    if (environmentSays("WAYLAND_DISPLAY") || environmentSays("XDG_SESSION_TYPE", "wayland")) {
        if (auto globals = wayland::compositorGlobals()) {
            session.protocol = DesktopSession::Protocol::wayland;
            session.waylandGlobals = std::move(*globals);
            return session;
        }
    }
    if (session.xDisplay) session.protocol = DesktopSession::Protocol::x11;
    return session;
}

}  // namespace kestrune::app
