#include <gtest/gtest.h>

#include <chrono>

#include "KestruneRemoteKit/Client/ReconnectPlan.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Event = ReconnectPlan::Event;

// Carries out the plan's actions the way the subscription owner does, on virtual time: a retry is
// a timer that feeds `retryDue` back; a connection attempt either succeeds or ends at once,
// as the test decides. Timers are not cancelled when the app leaves, to show that a late
// `retryDue` cannot start a connection by itself.
class VirtualOwner {
  public:
    explicit VirtualOwner(ManualMainQueue& queue) : queue_(queue), plan_([] { return 0.5; }) {}

    void feed(Event event) {
        for (const auto& action : plan_.handle(event)) {
            if (const auto* retry = std::get_if<ReconnectPlan::Retry>(&action)) {
                const auto delay = std::chrono::duration_cast<Duration>(
                    std::chrono::duration<double>(retry->after));
                queue_.postAfter(delay, [this] { feed(Event::retryDue); });
            } else if (std::holds_alternative<ReconnectPlan::Connect>(action)) {
                attempts.push_back(
                    std::chrono::duration_cast<std::chrono::milliseconds>(queue_.elapsed())
                        .count());
                queue_.post([this] { feed(macReachable ? Event::connected : Event::ended); });
            } else {
                ++disconnects;
            }
        }
    }

    const ReconnectPlan& plan() const { return plan_; }

    bool macReachable = false;
    std::vector<long> attempts;  // virtual milliseconds of each connection attempt
    int disconnects = 0;

  private:
    ManualMainQueue& queue_;
    ReconnectPlan plan_;
};

TEST(ReconnectOwner, AnUnreachableComputerIsRetriedAtGrowingIntervals) {
    ManualMainQueue queue;
    VirtualOwner owner(queue);
    owner.feed(Event::foreground);
    queue.advance(120s);
    EXPECT_EQ(owner.attempts, (std::vector<long>{0, 1000, 3000, 7000, 15000, 31000, 61000, 91000}));

    owner.macReachable = true;
    queue.advance(30s);
    EXPECT_EQ(owner.attempts.back(), 121000);
    EXPECT_EQ(owner.plan().phase(), ReconnectPlan::Phase::connected);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST(ReconnectOwner, LateTimersStartNothingAfterTheAppLeftOrReconnectedEarly) {
    ManualMainQueue queue;
    VirtualOwner owner(queue);
    owner.feed(Event::foreground);
    queue.advance(500ms);  // first attempt failed; a 1 s retry is pending
    ASSERT_EQ(owner.attempts.size(), 1u);

    // The network changes: an attempt starts at once, and the old timer still fires later.
    owner.macReachable = true;
    owner.feed(Event::networkChanged);
    queue.runUntilIdle();
    EXPECT_EQ(owner.plan().phase(), ReconnectPlan::Phase::connected);
    queue.advance(5s);
    EXPECT_EQ(owner.attempts, (std::vector<long>{0, 500}));

    // Drop, then leave the foreground before the retry is due.
    owner.macReachable = false;
    owner.feed(Event::ended);
    owner.feed(Event::background);
    EXPECT_EQ(owner.disconnects, 1);
    queue.advance(60s);
    EXPECT_EQ(owner.attempts.size(), 2u);
    EXPECT_EQ(owner.plan().phase(), ReconnectPlan::Phase::background);
}

}  // namespace
}  // namespace kestrune
