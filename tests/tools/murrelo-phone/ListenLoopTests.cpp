#include <gtest/gtest.h>

#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "ListenLoop.hpp"

namespace kestrune::phone {
namespace {

using namespace std::chrono_literals;
using End = SubscriptionClient::End;
using Phase = ReconnectPlan::Phase;

// Attempts that the test ends by hand, as a computer would.
struct Attempts {
    struct Record {
        ListenLoop::AttemptCallbacks callbacks;
        bool destroyed = false;
    };
    std::vector<std::shared_ptr<Record>> started;

    ListenLoop::StartAttempt starter() {
        return [this](ListenLoop::AttemptCallbacks callbacks) {
            auto record = std::make_shared<Record>(Record{std::move(callbacks), false});
            started.push_back(record);
            struct Handle : ListenLoop::Attempt {
                std::shared_ptr<Record> record;
                ~Handle() override { record->destroyed = true; }
            };
            auto handle = std::make_unique<Handle>();
            handle->record = record;
            return handle;
        };
    }
    Record& last() { return *started.back(); }
};

struct Fixture {
    ManualMainQueue queue;
    Attempts attempts;
    std::vector<End> gaveUp;
    ListenLoop loop{
        queue, ReconnectPlan([] { return 0.5; }), attempts.starter(),
        ListenLoop::Hooks{{}, [this](ListenLoop::GaveUp reason) { gaveUp.push_back(reason.end); }}};
};

TEST(ListenLoop, DropsAreRetriedAfterGrowingPausesAndSuccessResetsThem) {
    Fixture f;
    f.loop.start();
    ASSERT_EQ(f.attempts.started.size(), 1u);

    f.attempts.last().callbacks.ended(End::unreachable());
    f.queue.runUntilIdle();
    EXPECT_EQ(f.loop.phase(), Phase::waiting);
    EXPECT_TRUE(f.attempts.started[0]->destroyed);
    f.queue.advance(999ms);
    EXPECT_EQ(f.attempts.started.size(), 1u);
    f.queue.advance(1ms);
    ASSERT_EQ(f.attempts.started.size(), 2u);

    f.attempts.last().callbacks.ended(End::deadlineMissed());
    f.queue.runUntilIdle();
    f.queue.advance(1999ms);
    EXPECT_EQ(f.attempts.started.size(), 2u);
    f.queue.advance(1ms);
    ASSERT_EQ(f.attempts.started.size(), 3u);

    f.attempts.last().callbacks.connected();
    f.queue.runUntilIdle();
    EXPECT_EQ(f.loop.phase(), Phase::connected);
    f.attempts.last().callbacks.ended(End::disconnected());
    f.queue.runUntilIdle();
    f.queue.advance(1s);  // back to the first pause after a success
    EXPECT_EQ(f.attempts.started.size(), 4u);
    EXPECT_TRUE(f.gaveUp.empty());
}

TEST(ListenLoop, RefusalAndForeignCertificateStopRetrying) {
    Fixture f;
    f.loop.start();
    f.attempts.last().callbacks.ended(End::rejected("unknown_device"));
    f.queue.runUntilIdle();
    EXPECT_EQ(f.loop.phase(), Phase::parked);
    ASSERT_EQ(f.gaveUp.size(), 1u);
    EXPECT_EQ(f.gaveUp[0], End::rejected("unknown_device"));
    f.queue.advance(10min);
    EXPECT_EQ(f.attempts.started.size(), 1u);

    Fixture g;
    g.loop.start();
    g.attempts.last().callbacks.ended(End::certificateMismatch());
    g.queue.runUntilIdle();
    EXPECT_EQ(g.loop.phase(), Phase::awaitingRepair);
    EXPECT_EQ(g.gaveUp, std::vector<End>{End::certificateMismatch()});
}

TEST(ListenLoop, StopClosesTheAttemptAndIgnoresItsLateReports) {
    Fixture f;
    f.loop.start();
    auto first = f.attempts.started[0];
    f.loop.stop();
    EXPECT_TRUE(first->destroyed);
    EXPECT_EQ(f.loop.phase(), Phase::background);

    // The closed connection's report arrives afterwards and changes nothing.
    first->callbacks.ended(End::disconnected());
    f.queue.runUntilIdle();
    f.queue.advance(1min);
    EXPECT_EQ(f.attempts.started.size(), 1u);
    EXPECT_EQ(f.loop.phase(), Phase::background);

    // Back in the foreground while a retry was pending: one attempt, and the stale timer is gone.
    f.loop.start();
    f.attempts.last().callbacks.ended(End::unreachable());
    f.queue.runUntilIdle();
    f.loop.stop();
    f.loop.start();
    EXPECT_EQ(f.attempts.started.size(), 3u);
    f.queue.advance(5s);
    EXPECT_EQ(f.attempts.started.size(), 3u);
}

TEST(ListenLoop, EachRetryIsAnnouncedWithItsReasonAndDelay) {
    ManualMainQueue queue;
    Attempts attempts;
    std::vector<std::string> notes;
    ListenLoop loop(queue, ReconnectPlan([] { return 0.5; }), attempts.starter(),
                    ListenLoop::Hooks{[&](const std::string& note) { notes.push_back(note); }, {}});
    loop.start();
    attempts.last().callbacks.ended(End::unreachable());
    queue.runUntilIdle();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back(), "retrying in 1000 ms: the computer cannot be reached");
    queue.advance(1s);
    attempts.last().callbacks.ended(End::deadlineMissed());
    queue.runUntilIdle();
    EXPECT_EQ(notes.back(), "retrying in 2000 ms: the computer stopped answering heartbeats");
}

}  // namespace
}  // namespace kestrune::phone
