#include "platform/linux/x11/TerminalWindow.hpp"

#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/linux/x11/X11Connection.hpp"

namespace kestrune::x11 {

namespace {

constexpr std::array<std::string_view, 11> terminalNames{
    "xterm", "urxvt",   "gnome-terminal", "konsole", "xfce4-terminal", "alacritty",
    "kitty", "wezterm", "foot",           "tilix",   "terminator"};

// How far up the window tree to look for a WM_CLASS: toolkits nest the focus window a few
// levels below the top-level window that carries it.
constexpr int maxAncestors = 16;

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool namesTerminal(std::string_view value) {
    auto text = lowered(value);
    return std::any_of(terminalNames.begin(), terminalNames.end(), [&](std::string_view name) {
        if (text == name) return true;
        if (name == "foot" && text == "footclient") return true;
        // "gnome-terminal-server" and reverse-domain ids such as "org.wezfurlong.wezterm".
        bool prefixed = text.size() > name.size() && text.compare(0, name.size(), name) == 0 &&
                        text[name.size()] == '-';
        bool dotted = text.size() > name.size() + 1 &&
                      text.compare(text.size() - name.size(), name.size(), name) == 0 &&
                      text[text.size() - name.size() - 1] == '.';
        return prefixed || dotted;
    });
}

}  // namespace

bool isTerminalWindowClass(std::string_view instance, std::string_view className) {
    return namesTerminal(instance) || namesTerminal(className);
}

bool focusIsInTerminal(Display* display) {
    ErrorTrap trap(display);
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    for (int depth = 0; depth < maxAncestors && focus != None && focus != PointerRoot; ++depth) {
        XClassHint hint{};
        if (XGetClassHint(display, focus, &hint) != 0) {
            bool terminal = isTerminalWindowClass(hint.res_name ? hint.res_name : "",
                                                  hint.res_class ? hint.res_class : "");
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            return terminal;
        }
        Window root = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, focus, &root, &parent, &children, &count) == 0) return false;
        if (children) XFree(children);
        if (parent == root) return false;
        focus = parent;
    }
    return false;
}

}  // namespace kestrune::x11
