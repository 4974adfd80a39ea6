#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/Pairing.hpp"
#include "KestruneRemoteKit/Protocol/ImageOutcome.hpp"
#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"
#include "KestruneRemoteKit/Support/VariantCases.hpp"

namespace kestrune {

// What a session needs from the outside world. The server implements it and passes itself on each
// call, on its own queue.
class RemoteSessionContext {
  public:
    virtual ~RemoteSessionContext() = default;

    virtual Date now() = 0;
    // Spends the outstanding pairing code.
    virtual Result<void, PairingTokenStore::Failure> consumePairingToken(std::string_view token,
                                                                         Date now) = 0;
    // The paired device holding this secret (its last connection time is updated), or none.
    virtual std::optional<Uuid> authenticateDevice(std::string_view secret) = 0;
    // Whether the device is still paired (the user may have removed it since it authenticated).
    virtual bool containsDevice(const Uuid& id) = 0;
    virtual Result<PairedDeviceStore::Registration, PairedDeviceStore::Failure> registerDevice(
        std::string_view name, Date now) = 0;
};

// The protocol rules of one phone connection. A plain value that holds no sockets, timers or
// threads: it is given each received frame, the user's answer to a pairing request and the outcome
// of each command, and returns the effects that its owner carries out in order.
class RemoteSession {
  public:
    // Device names are shown in prompts and lists; these keep them to one readable line.
    static constexpr std::size_t kMaxDeviceNameCharacters = 64;
    static constexpr std::size_t kMaxDeviceNameScalars = 256;

    struct State : VariantCases<State> {
        // Just connected: only `pair` and `hello` are acceptable.
        struct AwaitingAuth {
            bool operator==(const AwaitingAuth&) const = default;
        };
        // A valid pairing code was presented; the user has been asked.
        struct AwaitingApproval {
            std::string deviceName;
            bool operator==(const AwaitingApproval&) const = default;
        };
        // A paired phone; commands are accepted.
        struct Authorized {
            Uuid deviceID;
            bool operator==(const Authorized&) const = default;
        };
        // Finished; everything is ignored.
        struct Closed {
            bool operator==(const Closed&) const = default;
        };

        using Value = std::variant<AwaitingAuth, AwaitingApproval, Authorized, Closed>;
        Value value;

        template <typename Case>
        requires(!std::is_same_v<std::decay_t<Case>, State> && std::is_constructible_v<Value, Case>)
            State(Case c)
            : value(std::move(c)) {}
        bool operator==(const State&) const = default;
    };

    struct Effect : VariantCases<Effect> {
        // Send this message on the connection.
        struct Send {
            RemoteMessage message;
            bool operator==(const Send&) const = default;
        };
        // Ask the user to approve pairing this phone.
        struct RequestApproval {
            std::string deviceName;
            bool operator==(const RequestApproval&) const = default;
        };
        // Run the command (`text`, `key`, `hotkey` or `secret`); report with executionFinished.
        struct Execute {
            RemoteMessage message;
            bool operator==(const Execute&) const = default;
        };
        // Deliver the complete picture; report with executionFinished.
        struct ReceiveImage {
            Bytes data;
            ImageFormat format = ImageFormat::jpeg;
            bool save = false;
            bool operator==(const ReceiveImage&) const = default;
        };
        // This connection is now the push channel of the device.
        struct Subscribed {
            Uuid deviceID;
            bool operator==(const Subscribed&) const = default;
        };
        // The phone confirmed the pushed item with this identifier.
        struct PushAcknowledged {
            std::string id;
            bool operator==(const PushAcknowledged&) const = default;
        };
        // Close the connection, after the sends before it.
        struct Close {
            bool operator==(const Close&) const = default;
        };

        using Value = std::variant<Send, RequestApproval, Execute, ReceiveImage, Subscribed,
                                   PushAcknowledged, Close>;
        Value value;

        template <typename Case>
        requires(!std::is_same_v<std::decay_t<Case>, Effect> &&
                 std::is_constructible_v<Value, Case>) Effect(Case c)
            : value(std::move(c)) {}
        bool operator==(const Effect&) const = default;
    };
    using Effects = std::vector<Effect>;

    // The picture being received.
    struct PendingImage {
        std::string id;
        ImageFormat format = ImageFormat::jpeg;
        std::int64_t size = 0;
        bool save = false;
        Bytes data;
        std::int64_t nextIndex = 0;
    };

    Effects receive(std::string_view frame, RemoteSessionContext& context);
    Effects resolveApproval(bool approved, RemoteSessionContext& context);
    // The outcome of the command or picture handed out by the last `Execute` or `ReceiveImage`.
    Effects executionFinished(ImageOutcome outcome);

    // The owner closed the connection: from now on everything is ignored.
    void close();

    // The name used for pairing: no invisible or control characters, no surrounding spaces,
    // bounded length, never empty.
    static std::string sanitize(std::string_view name);

    const State& state() const { return state_; }
    bool isSubscription() const { return isSubscription_; }
    bool acceptsSecret() const { return acceptsSecret_; }
    const std::optional<PendingImage>& pendingImage() const { return pendingImage_; }

  private:
    Effects receiveUnauthenticated(const RemoteMessage* message, RemoteSessionContext& context);
    Effects receiveOnSubscription(const RemoteMessage* message);
    Effects receiveAuthorized(const RemoteMessage& message, const Uuid& deviceID);
    Effects receiveImageChunk(const RemoteMessage::ImageChunk& chunk);
    Effects receiveImageEnd(const RemoteMessage::ImageEnd& end);

    State state_ = State::AwaitingAuth{};
    bool isSubscription_ = false;
    bool acceptsSecret_ = false;
    std::optional<PendingImage> pendingImage_;
};

}  // namespace kestrune
