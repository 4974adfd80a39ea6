#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// What the desktop session offers: X11 or Wayland, whether an X display is reachable inside a
// Wayland session (XWayland), and the Wayland compositor's global interfaces.
struct DesktopSession {
    enum class Protocol { x11, wayland, none };

    Protocol protocol = Protocol::none;
    bool xDisplay = false;
    std::vector<std::string> waylandGlobals;

    bool offers(std::string_view waylandInterface) const;
};

// Which implementation serves each need of the application in a session: chosen once at start.
struct DesktopServices {
    enum class Typing { xtest, virtualKeyboard, unavailable };
    enum class Clipboard { x11Selection, dataControl, unavailable };
    enum class FocusQuery { x11WindowClass, foreignToplevel, unavailable };
    enum class TriggerKey { x11Devices, compositorBindings };
    enum class Windows { x11, unavailable };

    Typing typing = Typing::unavailable;
    Clipboard clipboard = Clipboard::unavailable;
    FocusQuery focusQuery = FocusQuery::unavailable;
    TriggerKey triggerKey = TriggerKey::x11Devices;
    Windows windows = Windows::unavailable;

    static DesktopServices choose(const DesktopSession& session);
    bool operator==(const DesktopServices&) const = default;
};

// One line per need, for `murrelo --version` and bug reports.
std::string describe(const DesktopSession& session, const DesktopServices& services);

}  // namespace kestrune
