#pragma once

#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Client/Kit/SubscriptionClient.hpp"
#include "KestruneRemoteKit/Client/ReconnectPlan.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::phone {

// Keeps the subscription to the paired computer up: starts a connection, turns the way each one
// ended into reconnect-plan events and carries out the plan's actions (connect, disconnect, retry
// after a pause). Lives on `queue`: create, use and destroy it there.
class ListenLoop {
  public:
    // One connection attempt; destroying it closes the connection without a report.
    class Attempt {
      public:
        virtual ~Attempt() = default;
    };
    // Callbacks may come from any thread.
    struct AttemptCallbacks {
        std::function<void()> connected;
        std::function<void(SubscriptionClient::End)> ended;
    };
    using StartAttempt = std::function<std::unique_ptr<Attempt>(AttemptCallbacks)>;

    // Why listening stopped for good: automatic retries are over until the phone pairs again.
    struct GaveUp {
        SubscriptionClient::End end;
    };

    struct Hooks {
        std::function<void(const std::string&)> note;  // progress for the person watching
        std::function<void(GaveUp)> gaveUp;
    };

    ListenLoop(MainQueue& queue, ReconnectPlan plan, StartAttempt start, Hooks hooks);
    ~ListenLoop();

    void start();  // the phone is in the foreground: connect
    void stop();   // the phone leaves: disconnect, no retries

    ReconnectPlan::Phase phase() const { return plan_.phase(); }

  private:
    void feed(ReconnectPlan::Event event);
    void attemptEnded(SubscriptionClient::End end);

    MainQueue& queue_;
    ReconnectPlan plan_;
    StartAttempt start_;
    Hooks hooks_;
    std::unique_ptr<Attempt> attempt_;
    std::uint64_t attemptNumber_ = 0;  // callbacks of an attempt that was replaced are ignored
    std::optional<TaskId> retryTimer_;
    std::optional<SubscriptionClient::End> lastEnd_;  // how the latest attempt ended, for notes
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The real attempt: one SubscriptionClient run.
std::unique_ptr<ListenLoop::Attempt> startSubscription(std::string host, std::uint16_t port,
                                                       std::string fingerprint, std::string secret,
                                                       SubscriptionClient::Timing timing,
                                                       bool acceptsSecret,
                                                       SubscriptionClient::Deliver deliver,
                                                       ListenLoop::AttemptCallbacks callbacks);

}  // namespace kestrune::phone
