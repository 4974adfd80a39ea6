#include "platform/linux/filemanager/FileManagerFrontWindow.hpp"

#include <gio/gio.h>

#include <memory>

namespace kestrune {

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";
// Window object path → locations of its tabs, the current tab first. File managers list windows
// most recently focused first, so the first window's first location is the front folder.
constexpr const char* kProperty = "OpenWindowsWithLocations";

struct Unref {
    void operator()(GDBusConnection* connection) const { g_object_unref(connection); }
    void operator()(GVariant* value) const { g_variant_unref(value); }
    void operator()(GError* error) const { g_error_free(error); }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref>;

// The first location of the first window that has one. Read entry by entry in the bus's order:
// a sorted map would order the windows by path and lose the focus order.
std::optional<std::string> frontLocation(GVariant* windows) {
    if (!g_variant_is_of_type(windows, G_VARIANT_TYPE("a{sas}"))) return std::nullopt;
    GVariantIter entries;
    g_variant_iter_init(&entries, windows);
    const gchar* window = nullptr;
    GVariant* locations = nullptr;
    while (g_variant_iter_next(&entries, "{&s@as}", &window, &locations)) {
        Owned<GVariant> ownedLocations(locations);
        if (g_variant_n_children(locations) == 0) continue;
        const gchar* first = nullptr;
        g_variant_get_child(locations, 0, "&s", &first);
        return std::string(first);
    }
    return std::nullopt;
}

// The D-Bus name of a failure: the remote error's, or the one a local time-out stands for.
std::string errorName(GError* error) {
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
        return "org.freedesktop.DBus.Error.NoReply";
    }
    if (gchar* remote = g_dbus_error_get_remote_error(error)) {
        std::string name(remote);
        g_free(remote);
        return name;
    }
    return "org.freedesktop.DBus.Error.Failed";
}

}  // namespace

FileManagerFolder::Answer askFileManagerFrontWindow() {
    GError* rawError = nullptr;
    Owned<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    if (!bus) {
        g_clear_error(&rawError);
        return FileManagerFolder::Answer::none();
    }
    const int timeoutMs =
        static_cast<int>(std::chrono::milliseconds(FileManagerFolder::kCallTimeout).count());
    Owned<GVariant> reply(g_dbus_connection_call_sync(
        bus.get(), kService, kPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kInterface, kProperty), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &rawError));
    if (!reply) {
        Owned<GError> error(rawError);
        return FileManagerFolder::classify(std::nullopt, errorName(error.get()));
    }
    GVariant* rawValue = nullptr;
    g_variant_get(reply.get(), "(v)", &rawValue);
    Owned<GVariant> value(rawValue);
    return FileManagerFolder::classify(frontLocation(value.get()), std::nullopt);
}

}  // namespace kestrune
