#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Log = std::vector<std::string>;

std::string at(const ManualMainQueue& queue, const std::string& what) {
    return what + "@" +
           std::to_string(
               std::chrono::duration_cast<std::chrono::milliseconds>(queue.elapsed()).count());
}

TEST(ManualMainQueue, RunsPostedWorkInOrderOnlyWhenDriven) {
    ManualMainQueue queue;
    Log log;
    queue.post([&] { log.push_back("a"); });
    queue.post([&] {
        log.push_back("b");
        queue.post([&] { log.push_back("d (posted by b)"); });
    });
    queue.post([&] { log.push_back("c"); });
    EXPECT_TRUE(log.empty()) << "nothing runs until the test drives the queue";
    EXPECT_EQ(queue.runUntilIdle(), 4u);
    EXPECT_EQ(log, (Log{"a", "b", "c", "d (posted by b)"}));
    EXPECT_EQ(queue.runUntilIdle(), 0u);
    EXPECT_TRUE(queue.isCurrent());
}

TEST(ManualMainQueue, TimersFireAtTheirOwnDeadlinesInDeadlineOrder) {
    ManualMainQueue queue;
    Log log;
    queue.postAfter(3s, [&] { log.push_back(at(queue, "3s")); });
    queue.postAfter(1s, [&] { log.push_back(at(queue, "1s")); });
    queue.postAfter(2s, [&] { log.push_back(at(queue, "2s first")); });
    queue.postAfter(2s, [&] { log.push_back(at(queue, "2s second")); });
    queue.postAfter(-5s, [&] { log.push_back(at(queue, "negative is now")); });
    queue.post([&] { log.push_back(at(queue, "now")); });

    queue.runUntilIdle();
    EXPECT_EQ(log, (Log{"negative is now@0", "now@0"}));
    queue.advance(2500ms);
    EXPECT_EQ(log,
              (Log{"negative is now@0", "now@0", "1s@1000", "2s first@2000", "2s second@2000"}));
    EXPECT_EQ(queue.elapsed(), 2500ms);
    queue.advance(500ms);
    EXPECT_EQ(log.back(), "3s@3000") << "a deadline equal to the target runs";
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST(ManualMainQueue, TimersPostingTimersRunWithinOneAdvance) {
    ManualMainQueue queue;
    Log log;
    // A repeating 50-second timer, like the pairing code's renewal, across several deadlines.
    std::function<void()> tick = [&] {
        log.push_back(at(queue, "tick"));
        queue.postAfter(50s, tick);
    };
    queue.postAfter(50s, tick);
    // A timer that schedules work for "now" and for a moment before the advance ends.
    queue.postAfter(120s, [&] {
        log.push_back(at(queue, "outer"));
        queue.post([&] { log.push_back(at(queue, "inner now")); });
        queue.postAfter(10s, [&] { log.push_back(at(queue, "inner later")); });
        queue.postAfter(40s, [&] { log.push_back(at(queue, "inner beyond")); });
    });
    queue.advance(150s);
    EXPECT_EQ(log, (Log{"tick@50000", "tick@100000", "outer@120000", "inner now@120000",
                        "inner later@130000", "tick@150000"}));
    EXPECT_EQ(queue.wallNow(),
              ManualMainQueue::WallClock::time_point{std::chrono::seconds{1'800'000'150}});
    queue.advance(10s);
    EXPECT_EQ(log.back(), "inner beyond@160000");
}

TEST(ManualMainQueue, CancelForgetsOnlyWorkThatHasNotRun) {
    ManualMainQueue queue;
    Log log;
    const TaskId first = queue.postAfter(1s, [&] { log.push_back("first"); });
    const TaskId second = queue.postAfter(2s, [&] { log.push_back("second"); });
    TaskId third = 0;
    third = queue.postAfter(3s, [&] {
        log.push_back("third");
        queue.cancel(third);  // cancelling oneself while running is harmless
    });
    queue.postAfter(1500ms, [&] {
        log.push_back("canceller");
        queue.cancel(second);
    });
    queue.advance(1s);
    queue.cancel(first);  // already ran
    queue.cancel(9999);   // never existed
    queue.advance(5s);
    EXPECT_EQ(log, (Log{"first", "canceller", "third"}));
    EXPECT_EQ(queue.pendingCount(), 0u);

    const TaskId posted = queue.postAfter(0s, [&] { log.push_back("cancelled before running"); });
    queue.cancel(posted);
    queue.runUntilIdle();
    EXPECT_EQ(log.size(), 3u);
}

TEST(ManualMainQueue, FarDeadlinesNeverWrapAround) {
    ManualMainQueue queue;
    Log log;
    queue.advance(10s);
    // "Never" expressed as the largest delay must neither overflow nor fire.
    queue.postAfter(Duration::max(), [&] { log.push_back("never"); });
    queue.postAfter(1s, [&] { log.push_back("soon"); });
    queue.advance(24h * 365);
    EXPECT_EQ(log, (Log{"soon"}));
    queue.advance(Duration::max());
    EXPECT_EQ(queue.elapsed(), Duration::max());
    EXPECT_EQ(log, (Log{"soon", "never"}));
}

}  // namespace
}  // namespace kestrune
