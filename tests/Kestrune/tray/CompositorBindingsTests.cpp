#include <gtest/gtest.h>

#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "Kestrune/tray/CompositorBindings.hpp"

namespace kestrune::tray {
namespace {

TEST(CompositorBindings, PushToTalkOnPressAndReleaseAndTheShortcutInBothSpellings) {
    const BindingKeys keys{"Alt_R", "k", GlobalHotKey::command | GlobalHotKey::option};
    EXPECT_EQ(compositorBindings("/usr/bin/murrelo", keys),
              "# sway (~/.config/sway/config)\n"
              "bindsym --no-repeat Alt_R exec /usr/bin/murrelo ctl dictation press\n"
              "bindsym --release Alt_R exec /usr/bin/murrelo ctl dictation release\n"
              "bindsym Ctrl+Alt+k exec /usr/bin/murrelo ctl send-clipboard\n"
              "\n"
              "# Hyprland (~/.config/hypr/hyprland.conf)\n"
              "bind = , Alt_R, exec, /usr/bin/murrelo ctl dictation press\n"
              "bindr = , Alt_R, exec, /usr/bin/murrelo ctl dictation release\n"
              "bind = CTRL ALT, k, exec, /usr/bin/murrelo ctl send-clipboard\n");
}

TEST(CompositorBindings, WithoutAShortcutOnlyPushToTalkAndAnOddPathQuoted) {
    const auto text = compositorBindings("/opt/my apps/it's/murrelo", {"F13", std::nullopt, 0});
    EXPECT_NE(text.find("bindsym --no-repeat F13 exec '/opt/my apps/it'\\''s/murrelo' ctl "
                        "dictation press\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("send-clipboard"), std::string::npos);
    const auto super = compositorBindings(
        "murrelo", {"F13", "space", GlobalHotKey::control | GlobalHotKey::shift});
    EXPECT_NE(super.find("bindsym Shift+Mod4+space exec murrelo ctl send-clipboard\n"),
              std::string::npos);
    EXPECT_NE(super.find("bind = SHIFT SUPER, space, exec, murrelo ctl send-clipboard\n"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrune::tray
