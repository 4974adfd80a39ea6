#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/link/Pairing.hpp"
#include "Kestrune/link/server/ServiceAdvertiser.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "KestruneRemoteKit/Protocol/ImageOutcome.hpp"
#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {

class OutboxPort;
class PairedDeviceStore;
class SerialQueue;

// The computer's end of the phone link: a TLS WebSocket listener on the local network, one
// `RemoteSession` per connection, commands and pictures handed to the owner, outbox items pushed
// to subscribed phones. All of its state lives on its own serial queue
// ("Kestrune.RemoteInputServer"); every public operation returns at once and does its work there,
// and every call into its `Owner` is posted to the owner's queue. Answers from the owner may come
// from any thread.
class RemoteInputServer {
  public:
    using Seconds = std::chrono::duration<double>;

    // Half an hour without a phone's activity: the idle time-out an owner offers its user, and the
    // one always in force while the server is open only for sending to phones.
    static constexpr std::chrono::seconds kIdleTimeout{1800};

    // The defaults below are the server's limits, set here only: the application runs with them
    // and tests shorten them.
    struct Configuration {
        TLSIdentity identity;
        // A connection still unauthenticated after this is closed: a phone says who it is right
        // after the handshakes, and a silent one must not keep its slot.
        Duration helloTimeout = std::chrono::seconds(10);
        // Stop after this long without activity; none never stops.
        std::optional<Duration> idleTimeout = std::nullopt;
        // The idle time-out in force while the server is open only for sending to phones.
        Duration sendingIdleTimeout = kIdleTimeout;
        // Connections not yet authenticated: several phones reconnecting at once fit, a flood of
        // strangers is turned away before it costs many handshakes.
        std::size_t maxPendingConnections = 16;
        // Every connection: a household's phones, each with a command and a subscription
        // connection.
        std::size_t maxConnections = 8;
        // Between sending a close frame and forcing the connection shut.
        Duration closeGrace = std::chrono::seconds(2);
        bool loopbackOnly = false;
        std::optional<std::uint16_t> preferredPort = std::nullopt;
        // When set, the service is advertised with this certificate fingerprint.
        std::optional<std::string> mdnsFingerprint = std::nullopt;
        // A subscription connection silent for this long is closed.
        Duration subscriptionDeadline = std::chrono::seconds(30);
        // Between tries of a port that is taken.
        Duration portRetryDelay = std::chrono::milliseconds(300);
    };

    // The user setting "remoteInputPort" as a port: none below 1, 65535 above.
    static std::optional<std::uint16_t> preferredPortFromSetting(std::int64_t setting);

    struct PairingRequest {
        Uuid id;
        std::string deviceName;
        std::string peer;
        bool operator==(const PairingRequest&) const = default;
    };

    struct StopReason {
        enum class Kind { failed, requested, idle };
        Kind kind = Kind::requested;
        std::string message;  // failed only

        static StopReason failed(std::string message) { return {Kind::failed, std::move(message)}; }
        static StopReason requested() { return {Kind::requested, {}}; }
        static StopReason idle() { return {Kind::idle, {}}; }
        bool operator==(const StopReason&) const = default;
    };

    // The listener could not be brought up; the description is the message itself.
    struct StartFailure {
        std::string message;
        const std::string& description() const { return message; }
        bool operator==(const StartFailure&) const = default;
    };
    using StartResult = Result<std::uint16_t, StartFailure>;

    using CommandCompletion = std::function<void(Result<void, RemoteError>)>;
    using ImageCompletion = std::function<void(ImageOutcome)>;

    // What the server asks of its owner and what it tells it. The server holds its owner weakly and
    // calls it only on the owner's queue (`Dependencies::ownerQueue`), through `WeakOwner`.
    class Owner {
      public:
        virtual ~Owner() = default;

        // Requests: each reply or completion must be called exactly once, from any thread.
        virtual void approvePairing(PairingRequest request, std::function<void(bool)> reply) = 0;
        virtual void executeCommand(RemoteMessage command, CommandCompletion completion) = 0;
        // `format` is what the phone announced; the bytes may say otherwise.
        virtual void receiveImage(Bytes data, ImageFormat format, bool save,
                                  ImageCompletion completion) = 0;

        // Notices; an owner overrides those it follows.
        virtual void serverStopped(const StopReason& reason) {}
        // A pairing request was withdrawn (its connection closed) before the user answered.
        virtual void approvalWithdrawn(const Uuid& request) {}
        // A phone confirmed the outbox item with this identifier.
        virtual void pushAcknowledged(const std::string& item) {}
        // A password was not sent to a phone that keeps none; it counts as delivered there.
        virtual void secretRefused(const std::string& item) {}
        virtual void advertisementChanged(const AdvertisementStatus& status) {}
        // A pairing the user allowed could not be saved; the phone was answered `internal`.
        virtual void pairingNotSaved(const std::string& reason) {}
    };

    // The owner as the server reaches it. While the owner exists each call goes to it; once it is
    // gone a pairing is refused, a command or picture is answered `internal` and a notice goes
    // nowhere. Called on the owner's queue, where the owner is released, so it cannot go in the
    // middle of a call; the weak hold (not a Lifetime) is what lets the server, on its own
    // thread, keep a reference to an object of another queue.
    class WeakOwner final : public Owner {
      public:
        explicit WeakOwner(std::weak_ptr<Owner> owner = {}) : owner_(std::move(owner)) {}

        void approvePairing(PairingRequest request, std::function<void(bool)> reply) override;
        void executeCommand(RemoteMessage command, CommandCompletion completion) override;
        void receiveImage(Bytes data, ImageFormat format, bool save,
                          ImageCompletion completion) override;
        void serverStopped(const StopReason& reason) override;
        void approvalWithdrawn(const Uuid& request) override;
        void pushAcknowledged(const std::string& item) override;
        void secretRefused(const std::string& item) override;
        void advertisementChanged(const AdvertisementStatus& status) override;
        void pairingNotSaved(const std::string& reason) override;

      private:
        std::weak_ptr<Owner> owner_;
    };

    struct Dependencies {
        std::shared_ptr<PairedDeviceStore> devices = nullptr;
        std::shared_ptr<OutboxPort> outbox = nullptr;  // may be empty: nothing is pushed then
        // Where every call into the owner runs; must outlive the server.
        MainQueue& ownerQueue;
        // Held weakly; none behaves as an owner already gone.
        std::weak_ptr<Owner> owner = {};
        // Announces the service when a fingerprint is configured; may be empty.
        std::shared_ptr<ServiceAdvertiser> advertiser = nullptr;
        std::function<Date()> now = [] { return std::chrono::system_clock::now(); };
    };

    // Sets the device store's removal callback, so that a removed phone's connections close.
    RemoteInputServer(Configuration configuration, Dependencies dependencies);
    // Closes everything and waits for the queue; never call it from the server's own queue.
    ~RemoteInputServer();
    RemoteInputServer(const RemoteInputServer&) = delete;
    RemoteInputServer& operator=(const RemoteInputServer&) = delete;

    // The completion (on the owner's queue) receives the listening port or why there is none.
    void start(std::function<void(StartResult)> completion);
    void stop();

    // A new one-time code (replacing any outstanding one) while the listener exists, else none.
    void issuePairingToken(bool countsAsActivity,
                           std::function<void(std::optional<PairingToken>)> completion);
    void invalidatePairingToken();

    void setIdleTimeout(std::optional<Duration> timeout);
    void setOpenedForSending(bool opened);
    void noteSend();
    // Pushes what is pending to every subscription connection.
    void outboxDidChange();

    struct ConnectionCounts {
        std::size_t unauthenticated = 0;
        std::size_t total = 0;
    };
    // How many connections are open, delivered on the owner's queue (status and diagnostics).
    void countConnections(std::function<void(ConnectionCounts)> completion);

    // Whether the service is announced on the network, and if not, why. Safe from any thread.
    AdvertisementStatus advertisementStatus() const;

    static constexpr const char* kQueueLabel = "Kestrune.RemoteInputServer";

    struct Impl;

  private:
    struct QueueHandle;
    struct StatusBox;
    std::unique_ptr<SerialQueue> queue_;
    std::shared_ptr<QueueHandle> handle_;
    std::shared_ptr<StatusBox> status_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune
