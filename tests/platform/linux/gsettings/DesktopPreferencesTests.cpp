#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/gsettings/DesktopPreferences.hpp"

namespace kestrune {
namespace {

bool interfaceSchemaInstalled() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE)
               : nullptr;
    if (schema) g_settings_schema_unref(schema);
    return schema != nullptr;
}

void setAnimations(bool enabled) {
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    ASSERT_TRUE(g_settings_set_boolean(settings, "enable-animations", enabled));
    g_object_unref(settings);
}

TEST(DesktopPreferences, TurningAnimationsOffAsksForLessMotionAndIsReadAfresh) {
    ASSERT_STREQ(std::getenv("GSETTINGS_BACKEND"), "memory") << "never the machine's settings";
    if (!interfaceSchemaInstalled()) GTEST_SKIP() << "needs gsettings-desktop-schemas";
    EXPECT_EQ(linux_desktop::reducesMotion(), false) << "animations are on by default";
    setAnimations(false);
    EXPECT_EQ(linux_desktop::reducesMotion(), true);
    setAnimations(true);
    EXPECT_EQ(linux_desktop::reducesMotion(), false);
}

// GIO keeps the schemas it found for the life of the process, so a desktop without GNOME's
// schemas is played by a fresh copy of this program pointed at none.
TEST(DesktopPreferences, AMissingSchemaIsNoAnswerRatherThanACrash) {
    if (std::getenv("MURRELO_WITHOUT_SCHEMAS")) {
        EXPECT_EQ(linux_desktop::reducesMotion(), std::nullopt);
        return;
    }
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto command =
        "env MURRELO_WITHOUT_SCHEMAS=1 GSETTINGS_SCHEMA_DIR=/nonexistent "
        "XDG_DATA_DIRS=/nonexistent '" +
        self.string() + "' --gtest_filter=DesktopPreferences.AMissingSchema* >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
}  // namespace kestrune
