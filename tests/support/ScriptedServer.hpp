#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::testing {

// A self-signed certificate and key made for one test run, and the fingerprint a phone pins.
struct TestIdentity {
    std::string certificatePem;
    std::string keyPem;
    std::string fingerprint;  // lower-case hex SHA-256 of the certificate's DER bytes

    static TestIdentity make();
};

// What the server does in answer to one received frame.
struct Outgoing {
    enum class Kind { message, raw, close, hold };
    Kind kind = Kind::message;
    std::optional<RemoteMessage> message;
    std::string raw;  // a text frame sent as is
    std::uint16_t closeCode = 1000;

    static Outgoing send(RemoteMessage message) {
        return {Kind::message, std::move(message), {}, 0};
    }
    static Outgoing rawText(std::string text) {
        return {Kind::raw, std::nullopt, std::move(text), 0};
    }
    static Outgoing closeWith(std::uint16_t code) { return {Kind::close, std::nullopt, {}, code}; }
    // Stops answering this connection until the server is released (see release()).
    static Outgoing holdUntilReleased() { return {Kind::hold, std::nullopt, {}, 0}; }
};

// A TLS WebSocket server on 127.0.0.1 with scripted replies, one thread per connection, that
// records everything it saw so tests can check what reached the wire.
class ScriptedServer {
  public:
    struct Frame {
        int connection = 0;
        std::string text;
        std::optional<RemoteMessage> message;  // none when the frame did not decode
    };

    // Called on the connection's thread for every received frame.
    using Script = std::function<std::vector<Outgoing>(int connection, const Frame& frame)>;

    enum class Mode { webSocket, silentTcp };

    explicit ScriptedServer(Script script, Mode mode = Mode::webSocket,
                            TestIdentity identity = TestIdentity::make());
    ~ScriptedServer();

    std::uint16_t port() const { return port_; }
    const std::string& fingerprint() const { return identity_.fingerprint; }

    // Observations, safe from any thread.
    int tcpAccepted() const;
    int tlsCompleted() const;
    int upgraded() const;
    std::vector<Frame> frames() const;
    std::vector<Frame> framesOf(int connection) const;
    bool holding() const;
    // Bytes waiting unread on a held connection's socket (0 when it is not held).
    std::size_t pendingBytesWhileHeld() const;

    // Waits until `condition` (evaluated under the server's lock) holds; false after `limit`.
    bool waitUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // Lets a held connection go on with the replies after its hold.
    void release();

  private:
    struct Shared;
    void acceptLoop();
    void serve(int connection, int fd);

    Script script_;
    Mode mode_;
    TestIdentity identity_;
    std::uint16_t port_ = 0;
    int listenFd_ = -1;
    std::shared_ptr<Shared> shared_;
    std::thread acceptThread_;
};

// Convenience scripts.
inline Outgoing ackOk() {
    return Outgoing::send(RemoteMessage::Ack{true, std::nullopt, std::nullopt, std::nullopt});
}
inline Outgoing ackError(std::string code) {
    return Outgoing::send(RemoteMessage::Ack{false, std::move(code), std::nullopt, std::nullopt});
}

}  // namespace kestrune::testing
