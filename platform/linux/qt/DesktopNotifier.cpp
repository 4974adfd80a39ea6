#include "platform/linux/qt/DesktopNotifier.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <utility>

namespace kestrune {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

DesktopNotifier::DesktopNotifier(Options options)
    : options_(std::move(options)), context_(std::make_unique<QObject>()) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::show(const std::string& text, std::chrono::milliseconds expireAfter) {
    closeQueued_ = false;
    if (inFlight_) {
        queued_ = Pending{text, expireAfter};
        return;
    }
    send({text, expireAfter});
}

void DesktopNotifier::close() {
    queued_.reset();
    if (inFlight_) {
        closeQueued_ = true;
        return;
    }
    closeNow();
}

void DesktopNotifier::closeNow() {
    if (currentId_ == 0) return;
    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, "CloseNotification");
    message << currentId_;
    QDBusConnection::sessionBus().call(message, QDBus::NoBlock);
    currentId_ = 0;
}

void DesktopNotifier::send(const Pending& pending) {
    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    message << QString::fromStdString(options_.appName) << currentId_
            << QString::fromStdString(options_.iconName) << QString::fromStdString(pending.text)
            << QString() << QStringList() << QVariantMap()
            << static_cast<int>(pending.expireAfter.count());
    inFlight_ = true;
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(message, static_cast<int>(kCallTimeout.count())),
        context_.get());
    // The watcher belongs to context_, so an answer arriving after the notifier is gone finds
    // nothing connected.
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                     [this, watcher, text = pending.text] {
                         watcher->deleteLater();
                         inFlight_ = false;
                         QDBusPendingReply<uint> reply = *watcher;
                         if (reply.isError()) {
                             currentId_ = 0;
                             if (options_.unavailable) options_.unavailable(text);
                         } else {
                             currentId_ = reply.value();
                         }
                         if (auto next = std::exchange(queued_, std::nullopt)) {
                             send(*next);
                         } else if (std::exchange(closeQueued_, false)) {
                             closeNow();
                         }
                     });
}

}  // namespace kestrune
