#include "shell/tray/ControlClient.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include <chrono>
#include <iostream>

#include "Kestrune/tray/ControlCommand.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

using namespace std::chrono_literals;

// The application bounds each wait of its own (a stop, storing the clipboard: at most 30 s) and
// answers when it ran out; these bounds are longer, for an application that does not answer at
// all. Turning Phone Connection on and pairing wait for the server to start (a first start makes
// the certificate), which can take tens of seconds on a slow machine.
constexpr auto kCallTimeout = 45s;
constexpr auto kStartTimeout = 120s;

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QDBusMessage requestMessage(const tray::ControlRequest& request) {
    const QString name = q(tray::control::kBusName);
    const QString path = q(tray::control::kObjectPath);
    const QString interface = q(tray::control::kInterface);
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    switch (request.kind) {
        case tray::ControlRequest::Kind::getProperty: {
            auto message = QDBusMessage::createMethodCall(name, path, properties, "Get");
            message << interface << QString::fromStdString(request.member);
            return message;
        }
        case tray::ControlRequest::Kind::setProperty: {
            auto message = QDBusMessage::createMethodCall(name, path, properties, "Set");
            message << interface << QString::fromStdString(request.member)
                    << QVariant::fromValue(QDBusVariant(QVariant(request.value)));
            return message;
        }
        case tray::ControlRequest::Kind::call:
            break;
    }
    return QDBusMessage::createMethodCall(name, path, interface,
                                          QString::fromStdString(request.member));
}

std::string onOff(bool on) {
    return on ? "on" : "off";
}

}  // namespace

int runControlCommand(const std::vector<std::string>& words) {
    const auto request = tray::parseControlCommand(words);
    if (!request) {
        std::cerr << request.error();
        return 2;
    }
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::cerr << localized(
                         "Murrelo’s control needs a D-Bus session bus, and none is reachable.")
                  << "\n";
        return 1;
    }
    const auto owner = bus.interface()->isServiceRegistered(q(tray::control::kBusName));
    if (!owner.isValid() || !owner.value()) {
        std::cerr << localized("Murrelo is not running: start it with “murrelo” first.") << "\n";
        return 1;
    }
    const bool pairing = request->member == "ShowPairing";
    const bool starts = pairing || request->member == "TogglePhoneConnection" ||
                        request->kind == tray::ControlRequest::Kind::setProperty;
    const auto timeout = starts ? kStartTimeout : kCallTimeout;
    const QDBusMessage reply =
        bus.call(requestMessage(*request), QDBus::Block,
                 static_cast<int>(std::chrono::milliseconds(timeout).count()));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (reply.errorName() == "org.freedesktop.DBus.Error.ServiceUnknown" ||
            reply.errorName() == "org.freedesktop.DBus.Error.NameHasNoOwner") {
            std::cerr << localized("Murrelo is not running: start it with “murrelo” first.")
                      << "\n";
        } else if (reply.errorName() == "org.freedesktop.DBus.Error.NoReply") {
            std::cerr << localizedFormat(
                             "Murrelo did not answer within %s seconds; what was asked may still "
                             "happen.",
                             {std::to_string(std::chrono::seconds(timeout).count())})
                      << "\n";
        } else {
            std::cerr << reply.errorMessage().toStdString() << "\n";
        }
        return 1;
    }
    const auto arguments = reply.arguments();
    switch (request->kind) {
        case tray::ControlRequest::Kind::getProperty:
            std::cout << onOff(arguments.value(0).value<QDBusVariant>().variant().toBool()) << "\n";
            break;
        case tray::ControlRequest::Kind::setProperty: {
            // What it became, which is not what was asked when, say, typing cannot work here.
            tray::ControlRequest get = *request;
            get.kind = tray::ControlRequest::Kind::getProperty;
            const QDBusMessage now =
                bus.call(requestMessage(get), QDBus::Block,
                         static_cast<int>(std::chrono::milliseconds(timeout).count()));
            if (now.type() == QDBusMessage::ErrorMessage) {
                std::cerr << now.errorMessage().toStdString() << "\n";
                return 1;
            }
            std::cout << onOff(now.arguments().value(0).value<QDBusVariant>().variant().toBool())
                      << "\n";
            break;
        }
        case tray::ControlRequest::Kind::call:
            if (request->member == "SendClipboardToPhone") {
                std::cout << "stored\n";
            } else if (request->member == "TogglePhoneConnection") {
                std::cout << onOff(arguments.value(0).toBool()) << "\n";
            } else if (pairing) {
                std::cout << arguments.value(0).toString().toStdString() << "\n";
            }
            break;
    }
    return 0;
}

bool askRunningInstanceToOpenSettings() {
    auto bus = QDBusConnection::sessionBus();
    auto message =
        QDBusMessage::createMethodCall(q(tray::control::kBusName), q(tray::control::kObjectPath),
                                       q(tray::control::kInterface), "OpenSettings");
    const QDBusMessage reply = bus.call(
        message, QDBus::Block, static_cast<int>(std::chrono::milliseconds(kCallTimeout).count()));
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // The running instance answered; its settings window is not part of its build yet.
        if (reply.errorName() == q(tray::control::kNotAvailableError)) {
            std::cerr << reply.errorMessage().toStdString() << "\n";
            return true;
        }
        return false;
    }
    return true;
}

}  // namespace kestrune
