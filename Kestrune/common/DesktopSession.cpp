#include "Kestrune/common/DesktopSession.hpp"

#include <algorithm>

namespace kestrune {

namespace {

// The wlroots protocol through which a client may send key events to any window of the session.
constexpr std::string_view kVirtualKeyboard = "zwp_virtual_keyboard_manager_v1";
// The wlroots protocol through which a client may read and set the clipboard without the focus.
constexpr std::string_view kDataControl = "zwlr_data_control_manager_v1";
// The wlroots protocol that names the active window's application.
constexpr std::string_view kForeignToplevel = "zwlr_foreign_toplevel_manager_v1";

std::string_view protocolName(DesktopSession::Protocol protocol) {
    switch (protocol) {
        case DesktopSession::Protocol::x11:
            return "X11";
        case DesktopSession::Protocol::wayland:
            return "Wayland";
        case DesktopSession::Protocol::none:
            break;
    }
    return "none (no display)";
}

std::string_view typingName(DesktopServices::Typing typing, DesktopSession::Protocol protocol) {
    switch (typing) {
        case DesktopServices::Typing::xtest:
            // Under XWayland, XTest events reach only the X11 windows.
            return protocol == DesktopSession::Protocol::wayland ? "XTest (X11 windows only)"
                                                                 : "XTest";
        case DesktopServices::Typing::virtualKeyboard:
            return "virtual keyboard (zwp_virtual_keyboard_v1)";
        case DesktopServices::Typing::unavailable:
            break;
    }
    return "unavailable";
}

std::string_view clipboardName(DesktopServices::Clipboard clipboard) {
    switch (clipboard) {
        case DesktopServices::Clipboard::x11Selection:
            return "X11 CLIPBOARD selection";
        case DesktopServices::Clipboard::dataControl:
            return "data control (zwlr_data_control_v1)";
        case DesktopServices::Clipboard::unavailable:
            break;
    }
    return "unavailable";
}

std::string_view focusQueryName(DesktopServices::FocusQuery query) {
    switch (query) {
        case DesktopServices::FocusQuery::x11WindowClass:
            return "X11 WM_CLASS of the focus";
        case DesktopServices::FocusQuery::foreignToplevel:
            return "app_id of the active window (zwlr_foreign_toplevel_manager_v1)";
        case DesktopServices::FocusQuery::unavailable:
            break;
    }
    return "unavailable (Ctrl+V)";
}

std::string_view triggerKeyName(DesktopServices::TriggerKey key) {
    return key == DesktopServices::TriggerKey::x11Devices
               ? "X11 key watching"
               : "compositor bindings running `murrelo ctl dictation press` / `release`";
}

std::string_view windowsName(DesktopServices::Windows windows, DesktopSession::Protocol protocol) {
    if (windows == DesktopServices::Windows::unavailable) return "unavailable (no X display)";
    return protocol == DesktopSession::Protocol::wayland ? "XWayland" : "X11";
}

}  // namespace

bool DesktopSession::offers(std::string_view waylandInterface) const {
    return std::find(waylandGlobals.begin(), waylandGlobals.end(), waylandInterface) !=
           waylandGlobals.end();
}

DesktopServices DesktopServices::choose(const DesktopSession& session) {
    DesktopServices chosen;
    const bool wayland = session.protocol == DesktopSession::Protocol::wayland;
    if (wayland && session.offers(kVirtualKeyboard)) {
        chosen.typing = Typing::virtualKeyboard;
    } else if (session.xDisplay) {
        chosen.typing = Typing::xtest;
    }
    // sway hands an X11 owner's clipboard to Wayland windows only while an X11 window has focus.
    if (wayland && session.offers(kDataControl)) {
        chosen.clipboard = Clipboard::dataControl;
    } else if (session.xDisplay) {
        chosen.clipboard = Clipboard::x11Selection;
    }
    if (session.xDisplay) chosen.windows = Windows::x11;
    // The paste keys go with the typing: the virtual keyboard asks the compositor which window is
    // active, XTest asks the X server.
    if (chosen.typing == Typing::virtualKeyboard) {
        if (session.offers(kForeignToplevel)) chosen.focusQuery = FocusQuery::foreignToplevel;
    } else if (session.xDisplay) {
        chosen.focusQuery = FocusQuery::x11WindowClass;
    }
    // Under Wayland an X client sees keys only while an X11 window has the focus.
    chosen.triggerKey = wayland ? TriggerKey::compositorBindings : TriggerKey::x11Devices;
    return chosen;
}

std::string describe(const DesktopSession& session, const DesktopServices& services) {
    std::string text;
    auto line = [&text](std::string_view need, std::string_view how) {
        text.append(need).append(": ").append(how).append("\n");
    };
    line("session", protocolName(session.protocol));
    if (session.protocol == DesktopSession::Protocol::wayland) {
        line("XWayland", session.xDisplay ? "yes" : "no");
    }
    line("typing", typingName(services.typing, session.protocol));
    line("clipboard", clipboardName(services.clipboard));
    line("terminal query", focusQueryName(services.focusQuery));
    line("trigger key", triggerKeyName(services.triggerKey));
    line("windows", windowsName(services.windows, session.protocol));
    return text;
}

}  // namespace kestrune
