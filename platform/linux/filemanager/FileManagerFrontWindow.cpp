#include "platform/linux/filemanager/FileManagerFrontWindow.hpp"

#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVariant>

namespace kestrune {

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";
// Window object path → locations of its tabs, the current tab first. File managers list windows
// most recently focused first, so the first window's first location is the front folder.
constexpr const char* kProperty = "OpenWindowsWithLocations";

std::optional<std::string> frontLocation(const QVariant& value) {
    if (!value.canConvert<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::MapType) return std::nullopt;
    // Read entry by entry: a QMap would sort the windows by path and lose the focus order.
    argument.beginMap();
    std::optional<std::string> front;
    while (!argument.atEnd() && !front) {
        QString window;
        QStringList locations;
        argument.beginMapEntry();
        argument >> window >> locations;
        argument.endMapEntry();
        if (!locations.isEmpty()) front = locations.first().toStdString();
    }
    return front;
}

}  // namespace

FinderFrontFolder::Answer askFileManagerFrontWindow() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return FinderFrontFolder::Answer::none();
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
    call << QString::fromLatin1(kInterface) << QString::fromLatin1(kProperty);
    const int timeoutMs =
        static_cast<int>(std::chrono::milliseconds(FinderFrontFolder::kCallTimeout).count());
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        return FinderFrontFolder::classify(std::nullopt, reply.errorName().toStdString());
    }
    if (reply.arguments().isEmpty()) return FinderFrontFolder::Answer::none();
    const QVariant value = reply.arguments().first().value<QDBusVariant>().variant();
    return FinderFrontFolder::classify(frontLocation(value), std::nullopt);
}

}  // namespace kestrune
