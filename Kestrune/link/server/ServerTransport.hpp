#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace boost::asio {
class io_context;
}

namespace kestrune {

// The TLS WebSocket layer under the phone-link server. Everything here runs on one io_context
// (the server's serial queue); none of it is thread-safe, and none of it knows the protocol.

// A TLS server context built once per launch and shared by the connections it accepted.
class TlsServerContext {
  public:
    // Fails with a readable reason when the identity cannot be used: no listener is possible then.
    static Result<std::shared_ptr<TlsServerContext>, std::string> make(const TLSIdentity& identity);
    ~TlsServerContext();

    struct Impl;
    Impl& impl() { return *impl_; }

  private:
    explicit TlsServerContext(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// One accepted connection: TLS, then the WebSocket upgrade, then whole messages.
class WebSocketConnection : public std::enable_shared_from_this<WebSocketConnection> {
  public:
    enum class State { preparing, ready, failed, cancelled };

    struct Incoming {
        enum class Kind { message, closeFrame, error };
        Kind kind = Kind::error;
        // The frame's bytes for a text or binary message; the reason for an error.
        std::string payload;
    };

    using StateHandler = std::function<void(State, const std::string& reason)>;
    using ReceiveHandler = std::function<void(Incoming)>;

    virtual ~WebSocketConnection() = default;

    // Runs the TLS and WebSocket handshakes; state changes are reported to `onState`.
    virtual void start(StateHandler onState) = 0;
    // Delivers the next complete message; one receive at a time. Before the connection is ready,
    // the request waits for the handshakes.
    virtual void receive(ReceiveHandler handler) = 0;
    // Queues one text frame; frames go out in the order queued.
    virtual void send(std::string text) = 0;
    // Queues a close frame with `code` after the frames already queued; `sent` runs when the
    // closing handshake ends or fails. With `awaitAnswer` false the socket is shut as soon as the
    // frame is written instead of waiting for the peer's close: its descriptor comes back at once.
    virtual void sendClose(std::uint16_t code, bool awaitAnswer, std::function<void()> sent) = 0;
    // Shuts the socket at once; pending operations end with errors.
    virtual void cancel() = 0;

    virtual State state() const = 0;
    // The remote host without port, as text.
    virtual const std::string& peerHost() const = 0;
};

struct ListenerOptions {
    bool loopbackOnly = false;
    // None lets the system pick a free port.
    std::optional<std::uint16_t> port;
    std::size_t maxMessageBytes = kMaxComputerMessageBytes;
    int keepAliveIdleSeconds = 30;
    int keepAliveIntervalSeconds = 10;
    int keepAliveProbes = 3;
};

// A bound, listening TCP socket that hands out TLS WebSocket connections.
class WebSocketListener {
  public:
    using AcceptHandler = std::function<void(std::shared_ptr<WebSocketConnection>)>;
    using FailureHandler = std::function<void(const std::string& reason)>;

    // Binds and listens at once; a port in use or a bad address is an error with its reason.
    static Result<std::unique_ptr<WebSocketListener>, std::string> open(
        boost::asio::io_context& io, const ListenerOptions& options,
        std::shared_ptr<TlsServerContext> tls);
    ~WebSocketListener();

    std::uint16_t port() const;
    // Accepts until cancelled; a fatal accept error is reported once and ends the loop.
    void acceptLoop(AcceptHandler onAccept, FailureHandler onFailed);
    void cancel();

    struct Impl;

  private:
    explicit WebSocketListener(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune
