#include "Kestrune/link/server/RemoteInputServer.hpp"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/RemoteSession.hpp"
#include "Kestrune/link/server/ConnectionLimits.hpp"
#include "Kestrune/link/server/IdleStopTimer.hpp"
#include "Kestrune/link/server/OutboxPush.hpp"
#include "Kestrune/link/server/RejectionLog.hpp"
#include "Kestrune/link/server/ServerListener.hpp"
#include "Kestrune/link/server/ServerTransport.hpp"
#include "KestruneRemoteKit/Protocol/ComputerDiscovery.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "RemoteInputServer";
// "Policy violation": the server ends connections it no longer wants with this code.
constexpr std::uint16_t kCloseCodePolicyViolation = 1008;
// What waiting starts are told when the server stops before the listener was ready.
constexpr const char* kStoppedBeforeReady = "启动完成前已停止";
// How long the server's thread stays awake, polling, after each piece of work. A phone's messages
// come in bursts (keys, a picture's chunks, text after text), and an owner that answers at once (a
// refusal, a command it only queues, a picture it only records) answers within microseconds:
// catching the answer and the next message awake spares the thread a sleep and a wake-up each,
// which is most of the cost of a small round trip (on a virtual machine a wake-up from an idle
// processor costs tens of microseconds). A quiet connection costs this much processor time once
// per message and nothing while nothing arrives.
constexpr auto kPollAfterWork = std::chrono::microseconds(100);

using Effect = RemoteSession::Effect;
using Effects = RemoteSession::Effects;

ConnectionSnapshot::Phase phaseOf(const RemoteSession& session) {
    const auto& state = session.state();
    if (state.is<RemoteSession::State::AwaitingAuth>())
        return ConnectionSnapshot::Phase::awaitingAuth;
    if (state.is<RemoteSession::State::AwaitingApproval>()) {
        return ConnectionSnapshot::Phase::awaitingApproval;
    }
    if (state.is<RemoteSession::State::Authorized>()) return ConnectionSnapshot::Phase::authorized;
    return ConnectionSnapshot::Phase::closed;
}

std::optional<Uuid> authorizedDevice(const RemoteSession& session) {
    if (const auto* authorized = session.state().as<RemoteSession::State::Authorized>()) {
        return authorized->deviceID;
    }
    return std::nullopt;
}

RemoteMessage ackError(RemoteError error) {
    return RemoteMessage::Ack{false, std::string(rawValue(error)), std::nullopt, std::nullopt};
}

}  // namespace

// Lets answers from the owner, which may arrive from any thread at any time, reach the queue while
// the server exists and fall away harmlessly afterwards.
struct RemoteInputServer::QueueHandle {
    explicit QueueHandle(SerialQueue* queue) : queue(queue) {}

    void post(std::function<void()> work) {
        std::lock_guard lock(mutex);
        if (queue) queue->post(std::move(work));
    }
    void detach() {
        std::lock_guard lock(mutex);
        queue = nullptr;
    }

    std::mutex mutex;
    SerialQueue* queue;
};

struct RemoteInputServer::StatusBox {
    AdvertisementStatus get() const {
        std::lock_guard lock(mutex);
        return status;
    }
    void set(AdvertisementStatus next) {
        std::lock_guard lock(mutex);
        status = std::move(next);
    }

    mutable std::mutex mutex;
    AdvertisementStatus status;
};

// Lives on the server's queue, where it is also destroyed: its continuations are guarded by its
// Lifetime. What reaches it from other threads (the owner's answers, the advertiser's news,
// removals in the device store) comes through the queue handle and is checked on the queue.
struct RemoteInputServer::Impl : RemoteSessionContext {
    struct Connection {
        std::shared_ptr<WebSocketConnection> nw;
        std::uint64_t order = 0;
        RemoteSession session;
        std::optional<TaskId> helloTimer;
        std::uint64_t lastHeard = 0;
        bool working = false;
        std::optional<Uuid> pendingApproval;
        std::string peerHost;
        std::unordered_set<std::string> pushed;
        std::optional<TaskId> subscriptionTimer;
        // Once authorized, a close waits for the phone's answer; before, nothing is at stake.
        bool authenticated = false;
    };

    Impl(Configuration configuration, Dependencies dependencies, SerialQueue& queue,
         std::shared_ptr<QueueHandle> handle, std::shared_ptr<StatusBox> status)
        : config(std::move(configuration)),
          deps(std::move(dependencies)),
          queue(queue),
          handle(std::move(handle)),
          status(std::move(status)),
          idle(queue, config.idleTimeout, config.sendingIdleTimeout,
               [this] { shutdown(StopReason::idle()); }),
          rejections(queue,
                     [](const std::string& line) { log(LogLevel::warning, kLogCategory, line); }) {}

    // ----- owner callbacks -------------------------------------------------------------------

    void toOwner(std::function<void()> work) { deps.ownerQueue.post(std::move(work)); }

    // Wraps a completion handed to the owner so that calling it (from any thread) continues on the
    // queue with the server still alive, and only the first call counts. The answer never touches
    // a connection from the owner's thread: it is posted, and the queue's polling after the command
    // picks it up at once when the owner answers quickly (see kPollAfterWork).
    template <typename Arg>
    std::function<void(Arg)> backOnQueue(
        std::type_identity_t<std::function<void(Impl&, Arg)>> continuation) {
        auto called = std::make_shared<std::atomic<bool>>(false);
        return [handle = handle, called,
                then = lifetime.guard([this, continuation = std::move(continuation)](Arg arg) {
                    continuation(*this, std::move(arg));
                })](Arg arg) {
            if (called->exchange(true)) return;
            handle->post([then, arg = std::move(arg)]() mutable { then(std::move(arg)); });
        };
    }

    // ----- start and stop --------------------------------------------------------------------

    std::unique_ptr<ServerListener> makeListening() {
        ServerListener::Dependencies listenerDeps{
            queue,
            deps.ownerQueue,
            [this](std::shared_ptr<WebSocketConnection> nw) { accept(std::move(nw)); },
            [this](std::uint16_t readyPort) {
                idle.reset();
                advertise(readyPort);
            },
            [this] { withdrawAdvertisement(); },
            [this](const std::string& reason) { shutdown(StopReason::failed(reason)); }};
        return std::make_unique<ServerListener>(
            ServerListener::Options{config.identity, config.loopbackOnly, config.preferredPort,
                                    config.portRetryDelay},
            std::move(listenerDeps));
    }

    void shutdown(const StopReason& reason) {
        if (!listening->isActive()) return;
        listening->close(StartFailure{
            reason.kind == StopReason::Kind::failed ? reason.message : kStoppedBeforeReady});
        idle.cancel();
        tokens.invalidate();
        closeAll();
        rejections.flush();
        log(LogLevel::info, kLogCategory, "stopped");
        toOwner([owner = owner, reason]() mutable { owner.serverStopped(reason); });
    }

    // The owner is going away: everything ends without telling anyone.
    void teardown() {
        listening->close(std::nullopt);
        idle.cancel();
        tokens.invalidate();
        owner = WeakOwner();
        closeAll();
        rejections.flush();  // what was counted still reaches the log
    }

    void closeAll() {
        std::vector<std::uint64_t> orders;
        for (const auto& [order, connection] : connections) orders.push_back(order);
        for (const auto order : orders) closeConnection(order);
    }

    // ----- advertisement ---------------------------------------------------------------------

    void advertise(std::uint16_t listeningPort) {
        if (!config.mdnsFingerprint) return;
        if (!deps.advertiser) {
            return setAdvertisementStatus(
                {AdvertisementStatus::State::unavailable, "no service advertiser available", {}});
        }
        ServiceDescription service;
        service.type = std::string(ComputerDiscovery::serviceType);
        service.port = listeningPort;
        service.txt.emplace_back(std::string(ComputerDiscovery::fingerprintKey),
                                 *config.mdnsFingerprint);
        deps.advertiser->advertise(service,
                                   [status = status, handle = handle,
                                    then = lifetime.guard([this](const AdvertisementStatus& next) {
                                        reportAdvertisement(next);
                                    })](const AdvertisementStatus& next) {
                                       status->set(next);
                                       handle->post([then, next]() mutable { then(next); });
                                   });
    }

    void withdrawAdvertisement() {
        if (!deps.advertiser || !config.mdnsFingerprint) return;
        deps.advertiser->withdraw();
        setAdvertisementStatus({});
    }

    void setAdvertisementStatus(AdvertisementStatus next) {
        status->set(next);
        reportAdvertisement(next);
    }

    void reportAdvertisement(const AdvertisementStatus& next) {
        if (next.state == AdvertisementStatus::State::unavailable) {
            log(LogLevel::warning, kLogCategory, "the service is not advertised: " + next.reason);
        }
        toOwner([owner = owner, next]() mutable { owner.advertisementChanged(next); });
    }

    // ----- accepting -------------------------------------------------------------------------

    std::vector<ConnectionSnapshot> snapshots() const {
        std::vector<ConnectionSnapshot> result;
        result.reserve(connections.size());
        for (const auto& [order, connection] : connections) {
            result.push_back({order, connection.peerHost, phaseOf(connection.session),
                              connection.working, connection.lastHeard});
        }
        return result;
    }

    void accept(std::shared_ptr<WebSocketConnection> nw) {
        const auto decision =
            decideAdmission(snapshots(), {config.maxPendingConnections, config.maxConnections});
        if (decision.refuse) {
            rejections.note(RejectionLog::Kind::refused, nw->peerHost());
            return nw->cancel();
        }
        if (decision.evict) {
            if (const auto* evicted = find(*decision.evict)) {
                rejections.note(RejectionLog::Kind::evicted, evicted->peerHost);
            }
            closeConnection(*decision.evict);
        }

        const auto order = ++sequence;
        Connection& connection = connections[order];
        connection.nw = nw;
        connection.order = order;
        connection.lastHeard = order;
        connection.peerHost = nw->peerHost();
        nw->start(
            lifetime.guard([this, order](WebSocketConnection::State state, const std::string&) {
                if (state == WebSocketConnection::State::failed ||
                    state == WebSocketConnection::State::cancelled) {
                    forget(order);
                }
            }));
        connection.helloTimer = queue.postAfter(config.helloTimeout, lifetime.guard([this, order] {
            auto* connection = find(order);
            if (!connection) return;
            connection->helloTimer.reset();
            if (connection->session.state().is<RemoteSession::State::AwaitingAuth>()) {
                rejections.note(RejectionLog::Kind::timedOut, connection->peerHost);
                closeConnection(order);
            }
        }));
        receiveNext(order);
    }

    Connection* find(std::uint64_t order) {
        const auto found = connections.find(order);
        return found == connections.end() ? nullptr : &found->second;
    }

    // ----- receiving -------------------------------------------------------------------------

    void receiveNext(std::uint64_t order) {
        auto* connection = find(order);
        if (!connection) return;
        connection->nw->receive(lifetime.guard(
            [this, order](WebSocketConnection::Incoming in) { received(order, std::move(in)); }));
    }

    void received(std::uint64_t order, WebSocketConnection::Incoming incoming) {
        auto* connection = find(order);
        if (!connection) return;
        if (incoming.kind != WebSocketConnection::Incoming::Kind::message) {
            return closeConnection(order);
        }
        connection->lastHeard = ++sequence;
        auto effects = connection->session.receive(incoming.payload, *this);

        if (connection->session.state().is<RemoteSession::State::Authorized>()) {
            connection->authenticated = true;
            if (connection->session.isSubscription()) {
                armSubscriptionDeadline(*connection);
            } else {
                idle.reset();
            }
        }

        const bool startsWork = std::any_of(effects.begin(), effects.end(), [](const Effect& e) {
            return e.is<Effect::Execute>() || e.is<Effect::ReceiveImage>();
        });
        if (startsWork) {
            connection->working = true;
            perform(order, std::move(effects), [order](Impl& self) {
                auto* connection = self.find(order);
                if (!connection) return;
                connection->working = false;
                self.receiveNext(order);
            });
            return;
        }
        perform(order, std::move(effects), nullptr);
        receiveNext(order);
    }

    void armSubscriptionDeadline(Connection& connection) {
        if (connection.subscriptionTimer) queue.cancel(*connection.subscriptionTimer);
        connection.subscriptionTimer = queue.postAfter(
            config.subscriptionDeadline, lifetime.guard([this, order = connection.order] {
                if (auto* connection = find(order)) {
                    connection->subscriptionTimer.reset();
                    closeConnection(order);
                }
            }));
    }

    // ----- effects ---------------------------------------------------------------------------

    using Resume = std::function<void(Impl&)>;

    void perform(std::uint64_t order, Effects effects, Resume resume) {
        for (auto& effect : effects) {
            std::visit([&](auto& value) { apply(order, value, resume); }, effect.value);
        }
    }

    void apply(std::uint64_t order, Effect::Send& send, const Resume&) {
        if (auto* connection = find(order)) sendMessage(*connection, send.message);
    }

    void sendMessage(Connection& connection, const RemoteMessage& message) {
        auto encoded = message.encoded();
        if (!encoded) return;
        connection.nw->send(std::move(encoded.value()));
    }

    void apply(std::uint64_t order, Effect::RequestApproval& request, const Resume&) {
        auto* connection = find(order);
        if (!connection) return;
        const auto id = Uuid::random();
        if (!id) {
            // Without an identifier the answer could be mixed up with another request's.
            log(LogLevel::error, kLogCategory, "no secure random bytes for a pairing request");
            return approvalAnswered(order, Uuid{}, false);
        }
        connection->pendingApproval = *id;
        PairingRequest pairing{*id, request.deviceName, connection->peerHost};
        auto reply = backOnQueue<bool>([order, id = *id](Impl& self, bool approved) {
            self.approvalAnswered(order, id, approved);
        });
        toOwner([owner = owner, pairing = std::move(pairing), reply = std::move(reply)]() mutable {
            owner.approvePairing(std::move(pairing), std::move(reply));
        });
    }

    void approvalAnswered(std::uint64_t order, const Uuid& id, bool approved) {
        auto* connection = find(order);
        if (!connection) return;
        if (connection->pendingApproval && *connection->pendingApproval != id) return;
        connection->pendingApproval.reset();
        auto effects = connection->session.resolveApproval(approved, *this);
        const bool authorized = connection->session.state().is<RemoteSession::State::Authorized>();
        connection->authenticated |= authorized;
        perform(order, std::move(effects), nullptr);
        if (authorized) idle.reset();
    }

    void apply(std::uint64_t order, Effect::Execute& execute, const Resume& resume) {
        auto completion = backOnQueue<Result<void, RemoteError>>(
            [order, resume](Impl& self, Result<void, RemoteError> executed) {
                std::optional<RemoteError> error;
                if (!executed) error = executed.error();
                self.workFinished(order, ImageOutcome{error, std::nullopt, std::nullopt}, resume);
            });
        toOwner([owner = owner, message = std::move(execute.message),
                 completion = std::move(completion)]() mutable {
            owner.executeCommand(std::move(message), std::move(completion));
        });
    }

    void apply(std::uint64_t order, Effect::ReceiveImage& image, const Resume& resume) {
        auto completion =
            backOnQueue<ImageOutcome>([order, resume](Impl& self, ImageOutcome outcome) {
                self.workFinished(order, std::move(outcome), resume);
            });
        toOwner([owner = owner, data = std::move(image.data), format = image.format,
                 save = image.save, completion = std::move(completion)]() mutable {
            owner.receiveImage(std::move(data), format, save, std::move(completion));
        });
    }

    void workFinished(std::uint64_t order, ImageOutcome outcome, const Resume& resume) {
        auto* connection = find(order);
        // A connection closed meanwhile: the outcome has nowhere to go.
        if (!connection) return;
        perform(order, connection->session.executionFinished(std::move(outcome)), nullptr);
        if (resume) resume(*this);
    }

    void apply(std::uint64_t order, Effect::Subscribed& subscribed, const Resume&) {
        // One push channel per phone: the newest subscription replaces the older ones.
        std::vector<std::uint64_t> older;
        for (const auto& [other, connection] : connections) {
            if (other == order || !connection.session.isSubscription()) continue;
            if (authorizedDevice(connection.session) == subscribed.deviceID) older.push_back(other);
        }
        for (const auto other : older) closeConnection(other);
        pushPending(order);
    }

    void apply(std::uint64_t order, Effect::PushAcknowledged& acknowledged, const Resume&) {
        auto* connection = find(order);
        if (!connection || !deps.outbox) return;
        const auto device = authorizedDevice(connection->session);
        if (!device) return;
        if (deps.outbox->acknowledge(acknowledged.id, *device)) {
            toOwner(
                [owner = owner, id = acknowledged.id]() mutable { owner.pushAcknowledged(id); });
        }
    }

    void apply(std::uint64_t order, Effect::Close&, const Resume&) { closeConnection(order); }

    // ----- pushing ---------------------------------------------------------------------------

    void pushToSubscriptions() {
        std::vector<std::uint64_t> subscribers;
        for (const auto& [order, connection] : connections) {
            if (connection.session.isSubscription()) subscribers.push_back(order);
        }
        for (const auto order : subscribers) pushPending(order);
    }

    void pushPending(std::uint64_t order) {
        auto* connection = find(order);
        if (!connection || !deps.outbox) return;
        const auto device = authorizedDevice(connection->session);
        if (!device) return;
        const auto readPicture = [&](std::string_view fileName) {
            return readWholeFile(deps.outbox->directory() / fileName);
        };
        for (const auto& item : deps.outbox->pending(*device)) {
            connection = find(order);
            if (!connection) return;
            if (connection->pushed.contains(item.id)) continue;
            auto push = OutboxPush::plan(item, connection->session.acceptsSecret(), readPicture);
            if (push.refusedSecret) {
                // This phone keeps no passwords: it counts as delivered so the item does not wait.
                if (deps.outbox->acknowledge(item.id, *device)) {
                    toOwner([owner = owner, id = item.id]() mutable { owner.secretRefused(id); });
                }
                continue;
            }
            if (push.messages.empty()) continue;
            connection->pushed.insert(item.id);
            for (const auto& message : push.messages) sendMessage(*connection, message);
        }
    }

    // ----- closing ---------------------------------------------------------------------------

    // Drops the record without a word to the peer.
    std::shared_ptr<WebSocketConnection> forget(std::uint64_t order) {
        auto found = connections.find(order);
        if (found == connections.end()) return nullptr;
        Connection& connection = found->second;
        if (connection.pendingApproval) {
            toOwner([owner = owner, id = *connection.pendingApproval]() mutable {
                owner.approvalWithdrawn(id);
            });
        }
        if (connection.helloTimer) queue.cancel(*connection.helloTimer);
        if (connection.subscriptionTimer) queue.cancel(*connection.subscriptionTimer);
        connection.session.close();
        auto nw = std::move(connection.nw);
        connections.erase(found);
        return nw;
    }

    void closeConnection(std::uint64_t order) {
        const auto* connection = find(order);
        // A connection that never authenticated (evicted, refused, timed out) holds nothing worth a
        // clean close: its descriptor comes back as soon as the close frame is out, so a flood of
        // such connections cannot use up the process's descriptors.
        const bool awaitAnswer = connection && connection->authenticated;
        auto nw = forget(order);
        if (!nw) return;
        if (nw->state() != WebSocketConnection::State::ready) return nw->cancel();
        std::weak_ptr<WebSocketConnection> weak = nw;
        nw->sendClose(kCloseCodePolicyViolation, awaitAnswer, [weak] {
            if (auto closing = weak.lock()) closing->cancel();
        });
        // A peer that never answers the close must not keep the socket.
        if (awaitAnswer) queue.postAfter(config.closeGrace, [nw] { nw->cancel(); });
    }

    // ----- device removal --------------------------------------------------------------------

    void deviceRemoved(const Uuid& device) {
        std::vector<std::uint64_t> affected;
        for (const auto& [order, connection] : connections) {
            if (authorizedDevice(connection.session) == device) affected.push_back(order);
        }
        for (const auto order : affected) {
            Effects effects;
            effects.emplace_back(Effect::Send{ackError(RemoteError::unknownDevice)});
            effects.emplace_back(Effect::Close{});
            perform(order, std::move(effects), nullptr);
        }
        if (deps.outbox) deps.outbox->removeDevice(device);
    }

    // ----- RemoteSessionContext --------------------------------------------------------------

    Date now() override { return deps.now(); }

    Result<void, PairingTokenStore::Failure> consumePairingToken(std::string_view token,
                                                                 Date at) override {
        return tokens.consume(token, at);
    }

    std::optional<Uuid> authenticateDevice(std::string_view secret) override {
        const auto device = deps.devices->authenticate(secret, now());
        if (!device) return std::nullopt;
        return device->id;
    }

    bool containsDevice(const Uuid& id) override { return deps.devices->contains(id); }

    Result<PairedDeviceStore::Registration, PairedDeviceStore::Failure> registerDevice(
        std::string_view name, Date at) override {
        auto registered = deps.devices->registerDevice(name, at);
        if (!registered) {
            // The user pressed Allow and is waiting for the phone to appear; only the phone
            // hears `internal`, so the desktop must be told too.
            toOwner([owner = owner, reason = registered.error().message]() mutable {
                owner.pairingNotSaved(reason);
            });
        }
        return registered;
    }

    // ----- state -----------------------------------------------------------------------------

    Configuration config;
    Dependencies deps;
    // Emptied at teardown, so that what closes then tells nobody.
    WeakOwner owner{deps.owner};
    SerialQueue& queue;
    std::shared_ptr<QueueHandle> handle;
    std::shared_ptr<StatusBox> status;

    std::unique_ptr<ServerListener> listening = makeListening();
    std::uint64_t sequence = 0;
    PairingTokenStore tokens;
    // Ordered by acceptance, so "every connection" walks oldest first.
    std::map<std::uint64_t, Connection> connections;
    IdleStopTimer idle;
    RejectionLog rejections;
    Lifetime lifetime;
};

// -------------------------------------------------------------------------------------------------

void RemoteInputServer::WeakOwner::approvePairing(PairingRequest request,
                                                  std::function<void(bool)> reply) {
    if (auto owner = owner_.lock())
        return owner->approvePairing(std::move(request), std::move(reply));
    reply(false);
}

void RemoteInputServer::WeakOwner::executeCommand(RemoteMessage command,
                                                  CommandCompletion completion) {
    if (auto owner = owner_.lock()) {
        return owner->executeCommand(std::move(command), std::move(completion));
    }
    completion(RemoteError::internal);
}

void RemoteInputServer::WeakOwner::receiveImage(Bytes data, ImageFormat format, bool save,
                                                ImageCompletion completion) {
    if (auto owner = owner_.lock()) {
        return owner->receiveImage(std::move(data), format, save, std::move(completion));
    }
    completion(ImageOutcome{RemoteError::internal, std::nullopt, std::nullopt});
}

void RemoteInputServer::WeakOwner::serverStopped(const StopReason& reason) {
    if (auto owner = owner_.lock()) owner->serverStopped(reason);
}

void RemoteInputServer::WeakOwner::approvalWithdrawn(const Uuid& request) {
    if (auto owner = owner_.lock()) owner->approvalWithdrawn(request);
}

void RemoteInputServer::WeakOwner::pushAcknowledged(const std::string& item) {
    if (auto owner = owner_.lock()) owner->pushAcknowledged(item);
}

void RemoteInputServer::WeakOwner::secretRefused(const std::string& item) {
    if (auto owner = owner_.lock()) owner->secretRefused(item);
}

void RemoteInputServer::WeakOwner::pairingNotSaved(const std::string& reason) {
    if (auto owner = owner_.lock()) owner->pairingNotSaved(reason);
}

void RemoteInputServer::WeakOwner::advertisementChanged(const AdvertisementStatus& status) {
    if (auto owner = owner_.lock()) owner->advertisementChanged(status);
}

std::optional<std::uint16_t> RemoteInputServer::preferredPortFromSetting(std::int64_t setting) {
    if (setting < 1) return std::nullopt;
    return std::uint16_t(std::min<std::int64_t>(setting, 65535));
}

RemoteInputServer::RemoteInputServer(Configuration configuration, Dependencies dependencies)
    : queue_(std::make_unique<SerialQueue>(kQueueLabel, kPollAfterWork)),
      handle_(std::make_shared<QueueHandle>(queue_.get())),
      status_(std::make_shared<StatusBox>()) {
    auto devices = dependencies.devices;
    impl_ = std::make_unique<Impl>(std::move(configuration), std::move(dependencies), *queue_,
                                   handle_, status_);
    devices->setOnRemove(
        [handle = handle_, then = impl_->lifetime.guard([impl = impl_.get()](const Uuid& id) {
            impl->deviceRemoved(id);
        })](const Uuid& id) { handle->post([then, id]() mutable { then(id); }); });
}

RemoteInputServer::~RemoteInputServer() {
    // The state is torn down on its own thread; handlers still queued find it gone.
    queue_->sync([this] {
        impl_->teardown();
        impl_.reset();
    });
    handle_->detach();
    queue_.reset();
}

namespace {
template <typename Work>
void onQueue(RemoteInputServer::Impl& impl, SerialQueue& queue, Work work) {
    queue.post(impl.lifetime.guard([&impl, work = std::move(work)]() mutable { work(impl); }));
}
}  // namespace

void RemoteInputServer::start(std::function<void(StartResult)> completion) {
    onQueue(*impl_, *queue_, [completion = std::move(completion)](Impl& self) {
        self.listening->start(completion);
    });
}

void RemoteInputServer::stop() {
    onQueue(*impl_, *queue_, [](Impl& self) { self.shutdown(StopReason::requested()); });
}

void RemoteInputServer::issuePairingToken(
    bool countsAsActivity, std::function<void(std::optional<PairingToken>)> completion) {
    onQueue(*impl_, *queue_, [countsAsActivity, completion = std::move(completion)](Impl& self) {
        if (countsAsActivity) self.idle.reset();
        std::optional<PairingToken> token;
        if (self.listening->hasListener()) token = self.tokens.issue(self.now());
        self.toOwner([completion, token] { completion(token); });
    });
}

void RemoteInputServer::invalidatePairingToken() {
    onQueue(*impl_, *queue_, [](Impl& self) { self.tokens.invalidate(); });
}

void RemoteInputServer::setIdleTimeout(std::optional<Duration> timeout) {
    onQueue(*impl_, *queue_, [timeout](Impl& self) {
        self.idle.setIdleTimeout(timeout, self.listening->port().has_value());
    });
}

void RemoteInputServer::setOpenedForSending(bool opened) {
    onQueue(*impl_, *queue_, [opened](Impl& self) {
        self.idle.setOpenedForSending(opened, self.listening->port().has_value());
    });
}

void RemoteInputServer::noteSend() {
    onQueue(*impl_, *queue_,
            [](Impl& self) { self.idle.noteSend(self.listening->port().has_value()); });
}

void RemoteInputServer::outboxDidChange() {
    onQueue(*impl_, *queue_, [](Impl& self) { self.pushToSubscriptions(); });
}

void RemoteInputServer::countConnections(std::function<void(ConnectionCounts)> completion) {
    onQueue(*impl_, *queue_, [completion = std::move(completion)](Impl& self) {
        ConnectionCounts counts;
        counts.total = self.connections.size();
        for (const auto& [order, connection] : self.connections) {
            if (phaseOf(connection.session) == ConnectionSnapshot::Phase::awaitingAuth) {
                ++counts.unauthenticated;
            }
        }
        self.toOwner([completion, counts] { completion(counts); });
    });
}

AdvertisementStatus RemoteInputServer::advertisementStatus() const {
    return status_->get();
}

}  // namespace kestrune
