#include "platform/linux/qt/ComputerName.hpp"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariant>
#include <climits>
#include <mutex>
#include <thread>

namespace kestrune {

namespace {

// hostnamed starts on demand; a system bus that takes longer than this is not worth waiting for,
// the host name says nearly as much.
constexpr int kHostnameCallTimeoutMs = 500;

// Asked with a plain message: an interface object would first introspect the service without
// any bound of ours.
std::optional<std::string> prettyHostName() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return std::nullopt;
    auto get =
        QDBusMessage::createMethodCall("org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                                       "org.freedesktop.DBus.Properties", "Get");
    get << QStringLiteral("org.freedesktop.hostname1") << QStringLiteral("PrettyHostname");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kHostnameCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    const QString pretty =
        reply.arguments().front().value<QDBusVariant>().variant().toString().trimmed();
    if (pretty.isEmpty()) return std::nullopt;
    return pretty.toStdString();
}

std::optional<std::string> staticHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
    return std::string(name);
}

}  // namespace

struct ComputerName::Question {
    mutable std::mutex lock;
    std::optional<std::string> pretty;
    std::thread thread;
};

ComputerName::ComputerName() : question_(std::make_unique<Question>()) {
    question_->thread = std::thread([question = question_.get()] {
        auto pretty = prettyHostName();
        std::lock_guard guard(question->lock);
        question->pretty = std::move(pretty);
    });
}

ComputerName::~ComputerName() {
    question_->thread.join();
}

std::optional<std::string> ComputerName::current() const {
    {
        std::lock_guard guard(question_->lock);
        if (question_->pretty) return question_->pretty;
    }
    return staticHostName();
}

}  // namespace kestrune
