#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Client/Kit/ComputerPush.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {

// The phone's end of the subscription link: one long-lived connection over which the paired
// computer pushes texts, passwords and pictures. One `run` is one connection from start to end;
// reconnecting is the owner's business (it feeds the end reason to a ReconnectPlan). All work
// and every callback runs on the client's own serial queue.
class SubscriptionClient {
  public:
    struct Timing {
        Duration heartbeatInterval;
        Duration deadline;  // the link is given up when nothing arrives for this long
        Duration connectTimeout;
    };

    struct End {
        enum class Kind {
            rejected,
            closed,
            deadlineMissed,
            disconnected,
            unreachable,
            certificateMismatch
        };
        Kind kind = Kind::disconnected;
        std::string errorText;  // rejected: the error the computer answered with

        static End rejected(std::string text) { return {Kind::rejected, std::move(text)}; }
        static End closed() { return {Kind::closed, {}}; }
        static End deadlineMissed() { return {Kind::deadlineMissed, {}}; }
        static End disconnected() { return {Kind::disconnected, {}}; }
        static End unreachable() { return {Kind::unreachable, {}}; }
        static End certificateMismatch() { return {Kind::certificateMismatch, {}}; }
        bool operator==(const End&) const = default;
    };

    // Close codes: normal closure, and going away when the link timed out.
    static constexpr std::uint16_t kNormalClosure = 1000;
    static constexpr std::uint16_t kGoingAway = 1001;
    // Silence is checked five times per deadline, but at least once a second.
    static constexpr Duration kMaxSilenceCheckPeriod = std::chrono::seconds(1);

    // `acceptsSecret` is announced in `subscribe`: a phone that takes no pushed passwords says so,
    // and the computer settles them at once instead of leaving them unacknowledged.
    SubscriptionClient(std::string host, std::uint16_t port, std::string fingerprint,
                       std::string secret, Timing timing, bool acceptsSecret = true);
    // Closes the link and waits for the client's queue: never destroy a client from one of its own
    // completions.
    ~SubscriptionClient();
    SubscriptionClient(const SubscriptionClient&) = delete;
    SubscriptionClient& operator=(const SubscriptionClient&) = delete;

    // Item handler: returns whether the item was taken; only a taken item is acknowledged.
    using Deliver = std::function<bool(const ComputerPush&)>;

    // Performs one connection. `onConnected` runs once the subscription is accepted; `finished`
    // runs once with the reason the connection ended. Call once per client.
    void run(std::function<void()> onConnected, Deliver deliver, std::function<void(End)> finished);

    // Ends a running `run` with `closed`, or makes a later one end so at once.
    void close();

    bool hasUrl() const;

  private:
    struct Impl;
    std::unique_ptr<SerialQueue> queue_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune
