#include "platform/linux/gsettings/DesktopPreferences.hpp"

#include <gio/gio.h>

namespace kestrune::linux_desktop {

namespace {
constexpr const char* kInterfaceSchema = "org.gnome.desktop.interface";
constexpr const char* kAnimationsKey = "enable-animations";
}  // namespace

std::optional<bool> reducesMotion() {
    // g_settings_new() aborts the process on an unknown schema or key: look both up first.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return std::nullopt;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, kInterfaceSchema, TRUE);
    if (!schema) return std::nullopt;
    const bool hasKey = g_settings_schema_has_key(schema, kAnimationsKey);
    g_settings_schema_unref(schema);
    if (!hasKey) return std::nullopt;
    GSettings* settings = g_settings_new(kInterfaceSchema);
    const bool animations = g_settings_get_boolean(settings, kAnimationsKey);
    g_object_unref(settings);
    return !animations;
}

}  // namespace kestrune::linux_desktop
