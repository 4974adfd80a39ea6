#include "shell/tray/ControlService.hpp"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QVariantMap>

#include "Kestrune/tray/ControlAnswers.hpp"
#include "Kestrune/tray/ControlCommand.hpp"

namespace kestrune {

namespace {

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QDBusMessage failed(const QDBusMessage& call, const tray::ControlAnswers::Failure& failure) {
    return call.createErrorReply(q(tray::control::kFailedError),
                                 QString::fromStdString(failure.message));
}

}  // namespace

// Answers the calls by hand (no generated adaptor): the interface is small, and a delayed answer
// (ShowPairing) is a plain message kept until the link is known.
class ControlService::Object final : public QDBusVirtualObject {
  public:
    explicit Object(tray::ControlAnswers& answers) : answers_(answers) {}

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"zz.holvanis.murrelo.Control\">"
            "<method name=\"SendClipboardToPhone\"/>"
            "<property name=\"PhoneConnection\" type=\"b\" access=\"readwrite\"/>"
            "<method name=\"TogglePhoneConnection\"><arg type=\"b\" direction=\"out\"/></method>"
            "<method name=\"ShowPairing\"><arg type=\"s\" direction=\"out\"/></method>"
            "<method name=\"DictationPress\"/>"
            "<method name=\"DictationRelease\"/>"
            "<method name=\"ToggleDictation\"/>"
            "<method name=\"OpenSettings\"/>"
            "<method name=\"ShowWelcome\"/>"
            "<method name=\"Quit\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QDBusConnection bus = connection;
        if (message.interface() == kPropertiesInterface) return handleProperty(message, bus);
        if (!message.interface().isEmpty() && message.interface() != q(tray::control::kInterface)) {
            return false;
        }
        const QString member = message.member();
        if (member == "SendClipboardToPhone") {
            QDBusMessage delayed = message;
            delayed.setDelayedReply(true);
            answers_.sendClipboardToPhone(
                [bus, delayed](Result<void, tray::ControlAnswers::Failure> stored) mutable {
                    bus.send(stored.ok() ? delayed.createReply() : failed(delayed, stored.error()));
                });
        } else if (member == "TogglePhoneConnection") {
            QDBusMessage delayed = message;
            delayed.setDelayedReply(true);
            answers_.togglePhoneConnection(
                [bus, delayed](Result<bool, tray::ControlAnswers::Failure> on) mutable {
                    bus.send(on.ok() ? delayed.createReply(QVariant(on.value()))
                                     : failed(delayed, on.error()));
                });
        } else if (member == "ShowPairing") {
            QDBusMessage delayed = message;
            delayed.setDelayedReply(true);
            answers_.showPairing(
                [bus, delayed](Result<std::string, tray::ControlAnswers::Failure> link) mutable {
                    bus.send(link.ok() ? delayed.createReply(QString::fromStdString(link.value()))
                                       : failed(delayed, link.error()));
                });
        } else if (member == "DictationPress") {
            answers_.dictationPress();
            bus.send(message.createReply());
        } else if (member == "DictationRelease") {
            answers_.dictationRelease();
            bus.send(message.createReply());
        } else if (member == "ToggleDictation") {
            answers_.toggleDictation();
            bus.send(message.createReply());
        } else if (member == "OpenSettings") {
            answers_.openSettings();
            bus.send(message.createReply());
        } else if (member == "ShowWelcome") {
            answers_.showWelcome();
            bus.send(message.createReply());
        } else if (member == "Quit") {
            // Answered first: the caller hears back before the application goes.
            bus.send(message.createReply());
            answers_.quit();
        } else {
            return false;
        }
        return true;
    }

  private:
    bool handleProperty(const QDBusMessage& message, QDBusConnection& bus) {
        const auto arguments = message.arguments();
        const QString interface = arguments.value(0).toString();
        const QString property = arguments.value(1).toString();
        const bool ours = interface == q(tray::control::kInterface);
        const bool isPhone = property == q(tray::control::kPhoneConnectionProperty);
        if (message.member() == "GetAll" && ours) {
            QVariantMap all{
                {q(tray::control::kPhoneConnectionProperty), QVariant(answers_.phoneConnection())}};
            bus.send(message.createReply(QVariant::fromValue(all)));
        } else if (message.member() == "Get" && ours && isPhone) {
            bus.send(message.createReply(
                QVariant::fromValue(QDBusVariant(QVariant(answers_.phoneConnection())))));
        } else if (message.member() == "Set" && ours && isPhone) {
            const QVariant value = arguments.value(2).value<QDBusVariant>().variant();
            if (value.typeId() != QMetaType::Bool) {
                bus.send(message.createErrorReply(
                    QDBusError::InvalidArgs, QStringLiteral("PhoneConnection takes a boolean")));
                return true;
            }
            QDBusMessage delayed = message;
            delayed.setDelayedReply(true);
            answers_.setPhoneConnection(
                value.toBool(),
                [bus, delayed](Result<bool, tray::ControlAnswers::Failure> on) mutable {
                    bus.send(on.ok() ? delayed.createReply() : failed(delayed, on.error()));
                });
        } else {
            bus.send(message.createErrorReply(QDBusError::UnknownProperty,
                                              QStringLiteral("no such property: ") + property));
        }
        return true;
    }

    tray::ControlAnswers& answers_;
};

ControlService::ControlService(tray::ControlAnswers& answers)
    : object_(std::make_unique<Object>(answers)) {}

ControlService::~ControlService() {
    if (registered_) {
        auto bus = QDBusConnection::sessionBus();
        bus.unregisterObject(q(tray::control::kObjectPath));
        bus.unregisterService(q(tray::control::kBusName));
    }
}

ControlService::Claim ControlService::claim(QDBusConnection& bus) {
    if (!bus.isConnected()) return Claim::noBus;
    if (!bus.registerVirtualObject(q(tray::control::kObjectPath), object_.get())) {
        return Claim::noBus;
    }
    registered_ = true;
    if (bus.registerService(q(tray::control::kBusName))) return Claim::owned;
    bus.unregisterObject(q(tray::control::kObjectPath));
    registered_ = false;
    const auto owner = bus.interface()->isServiceRegistered(q(tray::control::kBusName));
    return owner.isValid() && owner.value() ? Claim::alreadyRunning : Claim::noBus;
}

}  // namespace kestrune
