#include <gtest/gtest.h>

#include <set>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"
#include "platform/linux/x11/TerminalWindow.hpp"

namespace kestrune {
namespace {

TEST(KeyCodeMap, EveryCatalogKeyHasItsOwnEvdevCode) {
    std::set<int> seen;
    for (const auto& [code, descriptor] : KeyCatalog::table()) {
        auto evdev = x11::evdevCode(code);
        ASSERT_TRUE(evdev) << descriptor.name;
        EXPECT_TRUE(seen.insert(*evdev).second) << descriptor.name << " shares evdev " << *evdev;
        EXPECT_EQ(x11::virtualKeyCode(*evdev), code) << descriptor.name;
    }
}

TEST(KeyCodeMap, XKeycodesAreEvdevPlusEightWithinTheCoreRange) {
    EXPECT_EQ(x11::xKeycode(0), 38);     // A
    EXPECT_EQ(x11::xKeycode(36), 36);    // Return
    EXPECT_EQ(x11::xKeycode(48), 23);    // Tab
    EXPECT_EQ(x11::xKeycode(9), 55);     // V
    EXPECT_EQ(x11::xKeycode(61), 108);   // Right Alt
    EXPECT_EQ(x11::xKeycode(54), 134);   // Right Super
    EXPECT_EQ(x11::xKeycode(96), 71);    // F5
    EXPECT_EQ(x11::xKeycode(90), 198);   // F20
    EXPECT_EQ(x11::xKeycode(110), 135);  // Menu
    // Fn has an evdev code beyond what X keycodes can carry.
    EXPECT_EQ(x11::evdevCode(63), 464);
    EXPECT_EQ(x11::xKeycode(63), std::nullopt);
    EXPECT_EQ(x11::xKeycode(200), std::nullopt);
    EXPECT_EQ(x11::virtualKeyCodeForXKeycode(108), 61);
    EXPECT_EQ(x11::virtualKeyCodeForXKeycode(9), 53);  // Escape
    EXPECT_EQ(x11::virtualKeyCodeForXKeycode(8), std::nullopt);
}

TEST(KeyCodeMap, ModifierFlagsAreSynthesisedFromPressedKeys) {
    EXPECT_EQ(x11::modifierFlags([](int) { return false; }), 0u);
    EXPECT_EQ(x11::modifierFlags([](int keycode) { return keycode == 108; }), 0x40u);
    EXPECT_EQ(x11::modifierFlags([](int keycode) { return keycode == 50 || keycode == 105; }),
              0x2u | 0x2000u);
}

TEST(TerminalWindow, KnownTerminalsAreRecognisedByClass) {
    EXPECT_TRUE(x11::isTerminalWindowClass("xterm", "XTerm"));
    EXPECT_TRUE(x11::isTerminalWindowClass("urxvt", "URxvt"));
    EXPECT_TRUE(x11::isTerminalWindowClass("gnome-terminal-server", "Gnome-terminal"));
    EXPECT_TRUE(x11::isTerminalWindowClass("org.wezfurlong.wezterm", "org.wezfurlong.wezterm"));
    EXPECT_TRUE(x11::isTerminalWindowClass("Alacritty", "Alacritty"));
    EXPECT_TRUE(x11::isTerminalWindowClass("footclient", "footclient"));
    EXPECT_TRUE(x11::isTerminalWindowClass("konsole", "konsole"));
    EXPECT_TRUE(x11::isTerminalWindowClass("xfce4-terminal", "Xfce4-terminal"));
    EXPECT_FALSE(x11::isTerminalWindowClass("gedit", "Gedit"));
    EXPECT_FALSE(x11::isTerminalWindowClass("football", "Football"));
    EXPECT_FALSE(x11::isTerminalWindowClass("kittyhawk", "Kittyhawk"));
    EXPECT_FALSE(x11::isTerminalWindowClass("", ""));
}

}  // namespace
}  // namespace kestrune
