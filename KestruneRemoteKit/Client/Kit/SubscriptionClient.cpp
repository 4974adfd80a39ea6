#include "KestruneRemoteKit/Client/Kit/SubscriptionClient.hpp"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "KestruneRemoteKit/Client/Kit/PinnedLink.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"

namespace kestrune {

namespace asio = boost::asio;
using linkdetail::PinnedLink;
using End = SubscriptionClient::End;
using Clock = std::chrono::steady_clock;

struct SubscriptionClient::Impl : std::enable_shared_from_this<Impl> {
    enum class Stage { authenticating, subscribing, streaming };

    Impl(asio::io_context& io, std::string host, std::uint16_t port, std::string fingerprint,
         std::string secret, Timing timing, bool acceptsSecret)
        : io(io),
          host(std::move(host)),
          port(port),
          fingerprint(std::move(fingerprint)),
          secret(std::move(secret)),
          timing(timing),
          acceptsSecret(acceptsSecret),
          hasUrl(PairingPayload::isConnectableHost(this->host)),
          silenceTimer(std::make_unique<asio::steady_timer>(io)),
          heartbeatTimer(std::make_unique<asio::steady_timer>(io)) {}

    asio::io_context& io;
    const std::string host;
    const std::uint16_t port;
    const std::string fingerprint;
    const std::string secret;
    const Timing timing;
    const bool acceptsSecret;
    const bool hasUrl;

    // Touched on the queue only.
    bool isClosed = false;
    bool running = false;
    std::shared_ptr<PinnedLink> link;
    std::function<void()> onConnected;
    Deliver deliver;
    std::function<void(End)> finished;
    Stage stage = Stage::authenticating;
    PushReceiver receiver;
    Clock::time_point lastHeard;
    // Released before the queue's io_context goes (see the destructor).
    std::unique_ptr<asio::steady_timer> silenceTimer;
    std::unique_ptr<asio::steady_timer> heartbeatTimer;
    std::int64_t heartbeatCount = 0;

    void start() {
        running = true;
        if (isClosed) return end(End::closed());
        if (!hasUrl) return end(End::unreachable());
        link = PinnedLink::make(io, {host, port, fingerprint, kMaxPhoneMessageBytes});
        auto self = shared_from_this();
        // A plain pointer, for identity only: the link keeps this handler and must not keep itself.
        link->open(timing.connectTimeout, [self, opening = link.get()](
                                              std::optional<PinnedLink::OpenFailure> failure) {
            if (self->link.get() != opening) return;  // the run already ended
            if (failure) {
                if (self->isClosed) return self->end(End::closed());
                if (failure->kind == PinnedLink::OpenFailure::Kind::certificateMismatch) {
                    return self->end(End::certificateMismatch());
                }
                return self->end(End::unreachable());
            }
            self->opened();
        });
    }

    void opened() {
        lastHeard = Clock::now();
        watchSilence();
        std::weak_ptr<Impl> weak = weak_from_this();
        link->startReading(
            [weak](std::string frame) {
                if (auto self = weak.lock()) self->heard(frame);
            },
            [weak](boost::system::error_code) {
                if (auto self = weak.lock()) self->linkFailed();
            });
        send(RemoteMessage::Hello{secret});
    }

    void watchSilence() {
        const Duration period = std::min<Duration>(timing.deadline / 5, kMaxSilenceCheckPeriod);
        silenceTimer->expires_after(period);
        silenceTimer->async_wait([weak = weak_from_this()](boost::system::error_code error) {
            auto self = weak.lock();
            if (error || !self || !self->link) return;
            if (Clock::now() - self->lastHeard > self->timing.deadline) {
                self->link->close(kGoingAway);
                return self->end(End::deadlineMissed());
            }
            self->watchSilence();
        });
    }

    void heartbeat() {
        send(RemoteMessage::Heartbeat{heartbeatCount}, OnSendFailure::stopHeartbeats);
        ++heartbeatCount;
        heartbeatTimer->expires_after(timing.heartbeatInterval);
        heartbeatTimer->async_wait([weak = weak_from_this()](boost::system::error_code error) {
            auto self = weak.lock();
            if (!error && self && self->link) self->heartbeat();
        });
    }

    // A broken heartbeat only stops the heartbeats: the receive side notices the broken link.
    enum class OnSendFailure { endRun, stopHeartbeats };

    void send(const RemoteMessage& message, OnSendFailure onFailure = OnSendFailure::endRun) {
        auto encoded = message.encoded();
        if (!encoded || !link) return;
        link->send(std::move(encoded).value(), [weak = weak_from_this(), sentOn = link.get(),
                                                onFailure](boost::system::error_code error) {
            auto self = weak.lock();
            if (!error || !self || self->link.get() != sentOn) return;
            if (onFailure == OnSendFailure::endRun) return self->linkFailed();
            self->heartbeatTimer->cancel();
        });
    }

    void heard(const std::string& frame) {
        lastHeard = Clock::now();  // whatever the frame holds, the computer is there
        auto decoded = RemoteMessage::decode(frame);
        if (!decoded) return;
        RemoteMessage message = std::move(decoded).value();
        if (stage != Stage::streaming) return handshakeReply(message);

        auto step = receiver.receive(std::move(message));
        if (auto* rejected = std::get_if<PushReceiver::Rejected>(&step))
            return end(End::rejected(rejected->error));
        if (auto* push = std::get_if<ComputerPush>(&step)) {
            if (deliver && deliver(*push)) send(RemoteMessage::PushAck{push->id});
        }
    }

    void handshakeReply(const RemoteMessage& message) {
        const auto* ack = message.as<RemoteMessage::Ack>();
        if (!ack || !ack->ok) {
            if (ack && ack->error) return end(End::rejected(*ack->error));
            return end(End::disconnected());
        }
        if (stage == Stage::authenticating) {
            stage = Stage::subscribing;
            return send(RemoteMessage::Subscribe{acceptsSecret});
        }
        stage = Stage::streaming;
        if (onConnected) onConnected();
        if (link) heartbeat();
    }

    void linkFailed() {
        if (isClosed) return end(End::closed());
        end(End::disconnected());
    }

    void end(End reason) {
        if (!running) return;
        running = false;
        silenceTimer->cancel();
        heartbeatTimer->cancel();
        if (link) link->close(kNormalClosure);
        link.reset();
        onConnected = nullptr;
        deliver = nullptr;
        auto report = std::move(finished);
        finished = nullptr;
        if (report) report(std::move(reason));
    }
};

SubscriptionClient::SubscriptionClient(std::string host, std::uint16_t port,
                                       std::string fingerprint, std::string secret, Timing timing,
                                       bool acceptsSecret)
    : queue_(std::make_unique<SerialQueue>("Kestrune.SubscriptionClient")),
      impl_(std::make_shared<Impl>(queue_->context(), std::move(host), port, std::move(fingerprint),
                                   std::move(secret), timing, acceptsSecret)) {}

SubscriptionClient::~SubscriptionClient() {
    queue_->sync([impl = impl_.get()] {
        impl->isClosed = true;
        impl->end(End::closed());
        impl->silenceTimer.reset();
        impl->heartbeatTimer.reset();
    });
    queue_.reset();
}

bool SubscriptionClient::hasUrl() const {
    return impl_->hasUrl;
}

void SubscriptionClient::run(std::function<void()> onConnected, Deliver deliver,
                             std::function<void(End)> finished) {
    asio::post(impl_->io, [self = impl_, onConnected = std::move(onConnected),
                           deliver = std::move(deliver), finished = std::move(finished)]() mutable {
        self->onConnected = std::move(onConnected);
        self->deliver = std::move(deliver);
        self->finished = std::move(finished);
        self->start();
    });
}

void SubscriptionClient::close() {
    asio::post(impl_->io, [self = impl_] {
        self->isClosed = true;
        self->end(End::closed());
    });
}

}  // namespace kestrune
