#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::testing {

// A minimal phone for tests: a Beast WebSocket client over TLS on loopback, every operation bounded
// by a time-out so a misbehaving server fails the test instead of hanging it.
class TestPhone {
  public:
    using Millis = std::chrono::milliseconds;
    static constexpr Millis kDefaultTimeout{5000};

    struct Frame {
        enum class Kind { message, closed, error, timeout };
        Kind kind = Kind::error;
        std::string text;
        std::uint16_t closeCode = 0;
        std::string error;
    };

    // TLS and WebSocket handshakes to 127.0.0.1:port; none when either fails or times out. When
    // `expectedFingerprint` is given, the server's certificate must hash to it.
    static std::unique_ptr<TestPhone> connect(std::uint16_t port,
                                              std::optional<std::string> expectedFingerprint = {},
                                              Millis timeout = kDefaultTimeout);
    ~TestPhone();

    bool sendText(const std::string& text, Millis timeout = kDefaultTimeout);
    bool sendBinary(const std::string& bytes, Millis timeout = kDefaultTimeout);
    bool send(const RemoteMessage& message, Millis timeout = kDefaultTimeout);

    Frame receiveFrame(Millis timeout = kDefaultTimeout);
    // The next message, decoded; none on close, error, time-out or an undecodable frame.
    std::optional<RemoteMessage> receive(Millis timeout = kDefaultTimeout);
    // Reads until the server's close frame (or the connection ends); the close code, or 0.
    std::uint16_t awaitClose(Millis timeout = kDefaultTimeout);

    // Sends a WebSocket ping; the answer is seen by a later receive.
    bool ping(Millis timeout = kDefaultTimeout);
    int pongsReceived() const;

    // Hello with `secret` and wait for the ack; true when it was ok.
    bool authenticate(const std::string& secret);

    struct Impl;

  private:
    explicit TestPhone(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A raw TCP connection that never speaks TLS: the cheapest hostile client.
class RawSocket {
  public:
    static std::unique_ptr<RawSocket> connect(std::uint16_t port);
    ~RawSocket();
    bool write(const std::string& bytes);
    // True when the server closed the connection within the time-out.
    bool waitForClose(TestPhone::Millis timeout);

  private:
    explicit RawSocket(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace kestrune::testing
