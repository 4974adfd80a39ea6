#include <gtest/gtest.h>

#include "Kestrune/common/DesktopSession.hpp"

namespace kestrune {
namespace {

using Protocol = DesktopSession::Protocol;
using Typing = DesktopServices::Typing;

const std::vector<std::string> swayGlobals{
    "wl_seat", "zwp_virtual_keyboard_manager_v1", "zwlr_data_control_manager_v1",
    "zwlr_foreign_toplevel_manager_v1", "zwlr_layer_shell_v1"};
// GNOME's mutter offers none of the wlroots protocols.
const std::vector<std::string> mutterGlobals{"wl_seat", "xdg_wm_base", "gtk_shell1"};

TEST(DesktopServices, EachSessionGetsTheImplementationsThatReachItsWindows) {
    const auto x11 = DesktopServices::choose({Protocol::x11, true, {}});
    EXPECT_EQ(x11.typing, Typing::xtest);
    EXPECT_EQ(x11.clipboard, DesktopServices::Clipboard::x11Selection);
    EXPECT_EQ(x11.triggerKey, DesktopServices::TriggerKey::x11Devices);
    EXPECT_EQ(x11.windows, DesktopServices::Windows::x11);

    const auto sway = DesktopServices::choose({Protocol::wayland, true, swayGlobals});
    EXPECT_EQ(sway.typing, Typing::virtualKeyboard);
    EXPECT_EQ(sway.clipboard, DesktopServices::Clipboard::dataControl);
    EXPECT_EQ(sway.focusQuery, DesktopServices::FocusQuery::foreignToplevel);
    EXPECT_EQ(sway.windows, DesktopServices::Windows::x11);
    EXPECT_EQ(sway.triggerKey, DesktopServices::TriggerKey::compositorBindings);

    // The virtual keyboard needs no X display; the windows do.
    const auto swayAlone = DesktopServices::choose({Protocol::wayland, false, swayGlobals});
    EXPECT_EQ(swayAlone.typing, Typing::virtualKeyboard);
    EXPECT_EQ(swayAlone.windows, DesktopServices::Windows::unavailable);
    EXPECT_EQ(swayAlone.clipboard, DesktopServices::Clipboard::dataControl);
    EXPECT_EQ(DesktopServices::choose({Protocol::wayland, true, mutterGlobals}).clipboard,
              DesktopServices::Clipboard::x11Selection);

    EXPECT_EQ(DesktopServices::choose({Protocol::wayland, true, mutterGlobals}).typing,
              Typing::xtest);
    EXPECT_EQ(DesktopServices::choose({Protocol::wayland, false, mutterGlobals}).typing,
              Typing::unavailable);
    EXPECT_EQ(DesktopServices::choose({}), DesktopServices{});
}

TEST(DesktopServices, TheDescriptionSaysWhatServesEachNeed) {
    const DesktopSession sway{Protocol::wayland, true, swayGlobals};
    EXPECT_EQ(describe(sway, DesktopServices::choose(sway)),
              "session: Wayland\n"
              "XWayland: yes\n"
              "typing: virtual keyboard (zwp_virtual_keyboard_v1)\n"
              "clipboard: data control (zwlr_data_control_v1)\n"
              "terminal query: app_id of the active window (zwlr_foreign_toplevel_manager_v1)\n"
              "trigger key: compositor bindings running `murrelo ctl dictation press` / "
              "`release`\n"
              "windows: XWayland\n");
    const DesktopSession gnome{Protocol::wayland, true, mutterGlobals};
    EXPECT_NE(describe(gnome, DesktopServices::choose(gnome)).find("XTest (X11 windows only)"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrune
