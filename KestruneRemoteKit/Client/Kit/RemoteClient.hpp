#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {

// The phone's request side of the link: opens a TLS WebSocket to the paired computer (certificate
// pinned by fingerprint), pairs, authenticates and sends text, keys, passwords and pictures, each
// as a request that waits for its reply. Operations run strictly one after another in call order
// on the client's own serial queue; completions are called on that queue. Any thread may call.
class RemoteClient {
  public:
    struct Timing {
        Duration replyTimeout;     // the reply to an ordinary request
        Duration approvalTimeout;  // the reply to `pair`, and the end of a picture that is saved
        Duration connectTimeout;   // the WebSocket opening
        Duration staleAfter;       // an open link idle this long is no longer trusted
    };

    struct Failure {
        enum class Kind { unreachable, rejected, certificateMismatch, timedOut, disconnected };
        Kind kind = Kind::disconnected;
        // unreachable: what went wrong (kitTextInvalidQRAddress, kitTextConnectionTimedOut, or the
        // system's description);
        // rejected: the wire error code the computer answered with.
        std::string detail;

        static Failure unreachable(std::string message) {
            return {Kind::unreachable, std::move(message)};
        }
        static Failure rejected(std::string code) { return {Kind::rejected, std::move(code)}; }
        static Failure certificateMismatch() { return {Kind::certificateMismatch, {}}; }
        static Failure timedOut() { return {Kind::timedOut, {}}; }
        static Failure disconnected() { return {Kind::disconnected, {}}; }
        bool operator==(const Failure&) const = default;
    };

    // Where the computer saved a picture.
    struct SavedImage {
        std::string file;
        std::optional<std::string> folder;
        bool operator==(const SavedImage&) const = default;
    };

    template <typename T>
    using Completion = std::function<void(Result<T, Failure>)>;
    using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

    // `now` measures link idleness (tests pass a manual clock).
    RemoteClient(std::string host, std::uint16_t port, std::string fingerprint, Timing timing,
                 SteadyNow now = &std::chrono::steady_clock::now);
    // Closes the link and waits for the client's queue: never destroy a client from one of its own
    // completions.
    ~RemoteClient();
    RemoteClient(const RemoteClient&) = delete;
    RemoteClient& operator=(const RemoteClient&) = delete;

    // Pairs with a one-time code; gives the new secret, which the client keeps.
    void pair(std::string token, std::string deviceName, Completion<std::string> done);
    // Adopts the secret and makes sure an authenticated link is open.
    void hello(std::string secret, Completion<void> done);
    // Adopts the secret without connecting.
    void adopt(std::string secret, Completion<void> done = {});
    // Makes sure a link is open, authenticated when a secret is known.
    void ensureConnected(Completion<void> done);

    void sendText(std::string text, Completion<void> done);
    void sendKey(RemoteKey key, Completion<void> done);
    void sendSecret(std::string payload, bool enter, Completion<void> done);
    // Sends the picture in chunks of kImageChunkBytes; gives where it was saved, if it was.
    void sendImage(Bytes data, ImageFormat format, bool save,
                   Completion<std::optional<SavedImage>> done);

    // Every later operation fails with `disconnected`; the one running fails at once.
    void close();

    // True when the host can be dialled at all.
    bool hasUrl() const;

  private:
    struct Impl;
    // Declared first, destroyed last: the queue's thread is joined before the state it served goes.
    std::unique_ptr<SerialQueue> queue_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune
