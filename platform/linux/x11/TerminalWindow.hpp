#pragma once

#include <X11/Xlib.h>

#include <string>
#include <string_view>

namespace kestrune::x11 {

// Terminals paste with Ctrl+Shift+V (Ctrl+V is a control character to the program inside).
// Matches the WM_CLASS instance or class of a known terminal, e.g. "XTerm", "URxvt",
// "gnome-terminal-server", "org.wezfurlong.wezterm".
bool isTerminalWindowClass(std::string_view instance, std::string_view className);

// Whether the window holding the keyboard focus (or its nearest ancestor with a WM_CLASS)
// belongs to a terminal.
bool focusIsInTerminal(Display* display);

}  // namespace kestrune::x11
