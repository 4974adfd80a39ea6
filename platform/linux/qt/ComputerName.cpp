#include "platform/linux/qt/ComputerName.hpp"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QVariant>

#include <climits>

namespace kestrune {

namespace {

// hostnamed starts on demand; a system bus that takes longer than this is not worth waiting for
// on the GUI thread, the host name says nearly as much.
constexpr int kHostnameCallTimeoutMs = 500;

std::optional<std::string> prettyHostName() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return std::nullopt;
    QDBusInterface hostname("org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                            "org.freedesktop.hostname1", bus);
    hostname.setTimeout(kHostnameCallTimeoutMs);
    if (!hostname.isValid()) return std::nullopt;
    const QString pretty = hostname.property("PrettyHostname").toString().trimmed();
    if (pretty.isEmpty()) return std::nullopt;
    return pretty.toStdString();
}

}  // namespace

std::optional<std::string> computerName() {
    if (auto pretty = prettyHostName()) return pretty;
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
    return std::string(name);
}

}  // namespace kestrune
