#include <gtest/gtest.h>

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

// Every test runs on a queue that sleeps as soon as it has nothing to do, and on one that keeps
// polling after each piece of work: both must keep the same promises.
class SerialQueueTest : public testing::TestWithParam<Duration> {
  protected:
    Duration pollAfterWork() const { return GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(RunLoops, SerialQueueTest,
                         testing::Values(Duration::zero(), Duration(200us)),
                         [](const testing::TestParamInfo<Duration>& info) {
                             return info.param == Duration::zero() ? "Sleeping" : "Polling";
                         });

TEST_P(SerialQueueTest, WorkFromManyThreadsRunsOneAtATimeInEachSendersOrder) {
    constexpr int kSenders = 4;
    constexpr int kPerSender = 2000;
    SerialQueue queue("Kestrune.test.order", pollAfterWork());
    std::vector<std::vector<int>> seen(kSenders);
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> offQueue{false};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] {
            for (int i = 0; i < kPerSender; ++i) {
                queue.post([&, s, i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    if (!queue.isCurrent()) offQueue = true;
                    seen[s].push_back(i);  // only the queue's thread touches `seen`
                    running.fetch_sub(1);
                });
            }
        });
    }
    for (auto& sender : senders) sender.join();
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(offQueue);
    EXPECT_FALSE(queue.isCurrent());
    for (int s = 0; s < kSenders; ++s) {
        ASSERT_EQ(seen[s].size(), static_cast<std::size_t>(kPerSender));
        for (int i = 0; i < kPerSender; ++i) ASSERT_EQ(seen[s][i], i) << "sender " << s;
    }
}

TEST_P(SerialQueueTest, TimersRunOnTheQueueInDeadlineOrder) {
    SerialQueue queue("Kestrune.test.timers", pollAfterWork());
    std::mutex mutex;
    std::vector<int> order;
    std::promise<void> done;
    auto record = [&](int value) {
        return [&, value] {
            EXPECT_TRUE(queue.isCurrent());
            std::lock_guard lock(mutex);
            order.push_back(value);
            if (order.size() == 3) done.set_value();
        };
    };
    queue.postAfter(400ms, record(3));
    queue.postAfter(1ms, record(1));
    queue.postAfter(200ms, record(2));
    done.get_future().wait();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_P(SerialQueueTest, CancelOnTheQueueAlwaysWinsOverADueTimer) {
    SerialQueue queue("Kestrune.test.cancel", pollAfterWork());
    std::atomic<int> ran{0};
    for (int i = 0; i < 200; ++i) {
        queue.sync([&] {
            // Due at once, but its handler cannot run before this task ends: the cancel must stick
            // even though the timer has already expired.
            const TaskId id = queue.postAfter(0ms, [&] { ++ran; });
            queue.cancel(id);
        });
    }
    queue.sync([] {});
    queue.postAfter(0ms, [&] { ++ran; });
    std::promise<void> flushed;
    queue.postAfter(1ms, [&] { flushed.set_value(); });
    flushed.get_future().wait();
    EXPECT_EQ(ran, 1) << "only the timer that was not cancelled ran";
}

TEST_P(SerialQueueTest, CancelRacingTheTimerFromOtherThreadsRunsEachTaskAtMostOnce) {
    constexpr int kTimers = 3000;
    SerialQueue queue("Kestrune.test.race", pollAfterWork());
    std::vector<std::atomic<int>> runs(kTimers);
    std::vector<TaskId> ids(kTimers);
    for (int i = 0; i < kTimers; ++i)
        ids[i] = queue.postAfter(std::chrono::microseconds(i % 500), [&, i] { ++runs[i]; });
    std::vector<std::thread> cancellers;
    for (int t = 0; t < 3; ++t) {
        cancellers.emplace_back([&, t] {
            for (int i = t; i < kTimers; i += 3) {
                if (i % 2 == 0) queue.cancel(ids[i]);
                queue.cancel(ids[i]);  // a second cancel, possibly after the run, is harmless
            }
        });
    }
    for (auto& canceller : cancellers) canceller.join();
    std::promise<void> flushed;
    queue.postAfter(5ms, [&] { flushed.set_value(); });
    flushed.get_future().wait();
    for (int i = 0; i < kTimers; ++i) EXPECT_LE(runs[i].load(), 1) << i;
}

TEST_P(SerialQueueTest, DestructionDropsPendingWorkAndReleasesIt) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    std::atomic<bool> pendingRan{false};
    std::atomic<bool> firstFinished{false};
    {
        SerialQueue queue("Kestrune.test.teardown", pollAfterWork());
        std::promise<void> started;
        // The running task ends only once destruction has begun, so the work behind it is pending
        // for certain when the queue stops.
        queue.post([&] {
            started.set_value();
            while (!queue.context().stopped()) std::this_thread::yield();
            firstFinished = true;
        });
        queue.post([&, token] { pendingRan = true; });
        queue.postAfter(1h, [&, token] { pendingRan = true; });
        token.reset();
        started.get_future().wait();
    }  // must return promptly: the hour-long timer is dropped, not waited for
    EXPECT_TRUE(firstFinished) << "work already running finishes";
    EXPECT_FALSE(pendingRan);
    EXPECT_TRUE(watch.expired()) << "dropped work releases what it holds";
}

TEST_P(SerialQueueTest, TheLastOwnerMayReleaseTheQueueFromItsOwnWork) {
    auto queue = std::make_unique<SerialQueue>("Kestrune.test.self", pollAfterWork());
    std::atomic<bool> laterRan{false};
    std::promise<void> gate;
    std::promise<void> released;
    auto releasedFuture = released.get_future();
    // Everything is queued before any of it runs, so nothing here races the release.
    queue->post([opened = gate.get_future().share()] { opened.wait(); });
    queue->post([&] {
        queue.reset();  // e.g. a server whose last reference goes away in its own callback
        released.set_value();
    });
    queue->post([&] { laterRan = true; });
    queue->postAfter(1h, [&] { laterRan = true; });
    gate.set_value();
    releasedFuture.wait();
    EXPECT_FALSE(laterRan);
}

TEST_P(SerialQueueTest, SyncWaitsForTheWorkAndSeesItsEffects) {
    SerialQueue queue("Kestrune.test.sync", pollAfterWork());
    int value = 0;  // written on the queue, read here after sync: sync orders the two
    std::thread::id ranOn;
    queue.sync([&] {
        value = 42;
        ranOn = std::this_thread::get_id();
    });
    EXPECT_EQ(value, 42);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(queue.label(), "Kestrune.test.sync");

    // From the queue itself, sync runs the work in place instead of waiting for itself forever.
    std::vector<int> order;
    queue.sync([&] {
        order.push_back(1);
        queue.sync([&] { order.push_back(2); });
        order.push_back(3);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_P(SerialQueueTest, AQuietQueueSleepsInsteadOfSpinning) {
    SerialQueue queue("Kestrune.test.quiet", pollAfterWork());
    clockid_t threadClock{};
    queue.sync([&] { ASSERT_EQ(pthread_getcpuclockid(pthread_self(), &threadClock), 0); });
    auto cpuTime = [&] {
        timespec spent{};
        clock_gettime(threadClock, &spent);
        return std::chrono::seconds(spent.tv_sec) + std::chrono::nanoseconds(spent.tv_nsec);
    };
    queue.post([] {});
    // Fixed waits on purpose: what an idle queue spends over a stretch of time is the measure.
    std::this_thread::sleep_for(50ms);  // well past any polling window
    const auto before = cpuTime();
    std::this_thread::sleep_for(300ms);
    // A queue still polling would have spent most of the 300 ms on the processor.
    EXPECT_LT(cpuTime() - before, 30ms);
}

}  // namespace
}  // namespace kestrune
