#include <gtest/gtest.h>

#include <vector>

#include "Kestrune/link/server/AcceptPause.hpp"
#include "Kestrune/link/server/ConnectionLimits.hpp"
#include "Kestrune/link/server/IdleStopTimer.hpp"
#include "Kestrune/link/server/PortPlan.hpp"
#include "Kestrune/link/server/RejectionLog.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Phase = ConnectionSnapshot::Phase;

ConnectionSnapshot pending(std::uint64_t order, std::string host) {
    return {order, std::move(host), Phase::awaitingAuth, false, order};
}

ConnectionSnapshot authorized(std::uint64_t order, std::uint64_t lastHeard, bool working = false) {
    return {order, "10.0.0.9", Phase::authorized, working, lastHeard};
}

TEST(EvictionCandidate, OldestConnectionOfTheHostWithMostPendingConnections) {
    const std::vector<ConnectionSnapshot> connections{
        pending(1, "a"), pending(2, "b"), pending(3, "b"),
        pending(4, "a"), pending(5, "b"), authorized(6, 40),
    };
    EXPECT_EQ(evictionCandidate(connections), 2u);
}

TEST(EvictionCandidate, TieGoesToTheHostWhoseOldestConnectionIsOlder) {
    const std::vector<ConnectionSnapshot> connections{pending(7, "late"), pending(3, "early"),
                                                      pending(9, "late"), pending(4, "early")};
    EXPECT_EQ(evictionCandidate(connections), 3u);
}

TEST(EvictionCandidate, OnlyUnauthenticatedConnectionsCount) {
    std::vector<ConnectionSnapshot> connections{authorized(1, 1)};
    connections.push_back({2, "x", Phase::awaitingApproval, false, 2});
    EXPECT_EQ(evictionCandidate(connections), std::nullopt);
}

TEST(LeastRecentlyHeardIdle, SkipsWorkingAndUnauthorizedConnections) {
    const std::vector<ConnectionSnapshot> connections{
        authorized(1, 5, /*working=*/true), authorized(2, 9), authorized(3, 7), pending(4, "a")};
    EXPECT_EQ(leastRecentlyHeardIdle(connections), 3u);
    const std::vector<ConnectionSnapshot> allWorking{authorized(1, 5, true),
                                                     authorized(2, 6, true)};
    EXPECT_EQ(leastRecentlyHeardIdle(allWorking), std::nullopt);
}

TEST(DecideAdmission, PendingLimitEvictsTheBusiestHostsOldest) {
    std::vector<ConnectionSnapshot> connections;
    for (std::uint64_t order = 1; order <= 16; ++order) {
        connections.push_back(pending(order, order % 4 == 0 ? "quiet" : "noisy"));
    }
    const ConnectionLimits limits{16, 100};
    EXPECT_EQ(decideAdmission(connections, limits), (AdmissionDecision{1u, false}));
    connections.pop_back();
    EXPECT_EQ(decideAdmission(connections, limits), AdmissionDecision{});
}

TEST(DecideAdmission, TotalLimitPrefersUnauthenticatedThenIdleThenRefuses) {
    const ConnectionLimits limits{16, 8};
    std::vector<ConnectionSnapshot> connections;
    for (std::uint64_t order = 1; order <= 7; ++order)
        connections.push_back(authorized(order, order));
    connections.push_back(pending(8, "stranger"));
    EXPECT_EQ(decideAdmission(connections, limits), (AdmissionDecision{8u, false}));

    connections.back() = authorized(8, 20);
    connections[4].lastHeard = 0;  // order 5 was heard from longest ago
    EXPECT_EQ(decideAdmission(connections, limits), (AdmissionDecision{5u, false}));

    for (auto& connection : connections) connection.working = true;
    EXPECT_EQ(decideAdmission(connections, limits), (AdmissionDecision{std::nullopt, true}));

    // A phone waiting for the user's approval is neither evictable nor idle.
    connections[0] = {1, "x", Phase::awaitingApproval, false, 1};
    EXPECT_EQ(decideAdmission(connections, limits), (AdmissionDecision{std::nullopt, true}));
}

TEST(PortPlan, TakenPortIsTriedSixTimesThenAnyPortThenGivesUp) {
    auto attempt = PortPlan::firstAttempt(std::nullopt, 52000);
    EXPECT_EQ(attempt, (LaunchAttempt{52000, 5}));
    int tries = 1;
    for (;;) {
        const auto step = PortPlan::afterListenerFailure(attempt, false);
        if (step.next != PortPlan::Next::launchAfterDelay) {
            EXPECT_EQ(step, (PortPlan::Step{PortPlan::Next::launchNow, {std::nullopt, 0}}));
            attempt = step.attempt;
            break;
        }
        EXPECT_EQ(step.attempt.port, 52000);
        attempt = step.attempt;
        ++tries;
    }
    EXPECT_EQ(tries, 6);
    // Any port failing too is the end.
    EXPECT_EQ(PortPlan::afterListenerFailure(attempt, false).next, PortPlan::Next::stopFailed);
}

TEST(PortPlan, LastPortWinsAndFailuresAfterReadyStop) {
    EXPECT_EQ(PortPlan::firstAttempt(40001, 52000), (LaunchAttempt{40001, 5}));
    EXPECT_EQ(PortPlan::firstAttempt(std::nullopt, std::nullopt), (LaunchAttempt{std::nullopt, 5}));
    EXPECT_EQ(PortPlan::afterListenerFailure({40001, 3}, /*portKnown=*/true).next,
              PortPlan::Next::stopFailed);
    EXPECT_EQ(PortPlan::afterCreationFailure({40001, 3}),
              (PortPlan::Step{PortPlan::Next::launchNow, {std::nullopt, 0}}));
    EXPECT_EQ(PortPlan::afterCreationFailure({std::nullopt, 0}).next,
              PortPlan::Next::completeStartsWithError);
}

class IdleStopTimerTest : public ::testing::Test {
  protected:
    ManualMainQueue queue;
    int stops = 0;
};

TEST_F(IdleStopTimerTest, StopsAfterTheTimeoutCountedFromTheLastActivity) {
    IdleStopTimer timer(queue, 1800s, 1800s, [&] { ++stops; });
    timer.reset();
    queue.advance(1000s);
    timer.reset();
    queue.advance(1799s);
    EXPECT_EQ(stops, 0);
    queue.advance(1s);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(timer.isScheduled());
}

TEST_F(IdleStopTimerTest, WithoutTheSettingOnlyOpeningForSendingSchedulesAStop) {
    IdleStopTimer timer(queue, std::nullopt, 1800s, [&] { ++stops; });
    timer.reset();
    timer.noteSend(true);
    EXPECT_FALSE(timer.isScheduled());
    queue.advance(100'000s);
    EXPECT_EQ(stops, 0);

    timer.setOpenedForSending(true, /*listening=*/true);
    queue.advance(1000s);
    timer.noteSend(true);
    queue.advance(1799s);
    EXPECT_EQ(stops, 0);
    queue.advance(1s);
    EXPECT_EQ(stops, 1);
}

TEST_F(IdleStopTimerTest, ChangesResetOnlyWhileListeningAndWhenTheyMatter) {
    IdleStopTimer timer(queue, 600s, 1800s, [&] { ++stops; });
    // Before the listener is ready nothing is scheduled by setting changes.
    timer.setIdleTimeout(300s, /*listening=*/false);
    timer.setOpenedForSending(true, /*listening=*/false);
    EXPECT_FALSE(timer.isScheduled());

    timer.reset();
    queue.advance(1000s);
    // The same value again is no change and does not restart the count.
    timer.setOpenedForSending(true, true);
    queue.advance(800s);
    EXPECT_EQ(stops, 1);

    // The user's time-out is not in force while open for sending, so changing it resets nothing.
    timer.reset();
    queue.advance(1000s);
    timer.setIdleTimeout(60s, true);
    queue.advance(800s);
    EXPECT_EQ(stops, 2);

    // Back to the user's setting: the new value applies from the change on.
    timer.setOpenedForSending(false, true);
    queue.advance(59s);
    EXPECT_EQ(stops, 2);
    queue.advance(1s);
    EXPECT_EQ(stops, 3);

    timer.setIdleTimeout(std::nullopt, true);
    EXPECT_FALSE(timer.isScheduled());
}

TEST(RejectionLog, FirstAtOnceThenAtMostOneLineAMinutePerKindWithCountsAndAddresses) {
    using Kind = RejectionLog::Kind;
    ManualMainQueue queue;
    std::vector<std::string> lines;
    RejectionLog log(queue, [&](const std::string& line) { lines.push_back(line); });

    log.note(Kind::evicted, "10.0.0.1");
    ASSERT_EQ(lines, std::vector<std::string>{
                         "1 unauthenticated connection closed to make room: from 10.0.0.1"});
    for (int i = 0; i < 30; ++i) log.note(Kind::evicted, "10.0.0.1");
    for (int i = 0; i < 7; ++i) log.note(Kind::evicted, "10.0.0.2");
    // Another kind has its own minute: its first line is not held back by the evictions.
    queue.advance(10s);
    log.note(Kind::refused, "10.0.0.3");
    log.note(Kind::timedOut, "10.0.0.4");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "1 connection refused, every connection busy: from 10.0.0.3");
    EXPECT_EQ(lines[2], "1 connection closed without authenticating in time: from 10.0.0.4");

    queue.advance(49s);
    EXPECT_EQ(lines.size(), 3u);
    queue.advance(1s);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3],
              "37 more unauthenticated connections closed to make room: from 10.0.0.1 (30), "
              "10.0.0.2 (7)");

    // Still within the summary's run: the next eviction waits for the end of its minute.
    log.note(Kind::evicted, "10.0.0.2");
    queue.advance(59s);
    EXPECT_EQ(lines.size(), 4u);  // the refusal's and the time-out's quiet minutes write nothing
    queue.advance(1s);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4], "1 more unauthenticated connection closed to make room: from 10.0.0.2 (1)");

    // A quiet minute ends the run; the next one is written at once again.
    queue.advance(60s);
    log.note(Kind::evicted, "10.0.0.5");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[5], "1 unauthenticated connection closed to make room: from 10.0.0.5");
    EXPECT_EQ(queue.pendingCount(), 1u);
}

TEST(RejectionLog, ManySourcesAreBoundedTheBusiestNamedAndAStopWritesWhatIsCounted) {
    using Kind = RejectionLog::Kind;
    ManualMainQueue queue;
    std::vector<std::string> lines;
    RejectionLog log(queue, [&](const std::string& line) { lines.push_back(line); });
    log.note(Kind::refused, "first");
    // More sources than are remembered: each of the first ones once, six of them more often.
    const std::size_t sources = RejectionLog::kMaxHostsTracked + 100;
    for (std::size_t i = 0; i < sources; ++i) log.note(Kind::refused, "h" + std::to_string(i));
    for (std::size_t extra = 1; extra <= 6; ++extra) {
        for (std::size_t k = 0; k < extra; ++k)
            log.note(Kind::refused, "h" + std::to_string(extra));
    }
    log.flush();
    ASSERT_EQ(lines.size(), 2u);
    // 356 + 21 = 377 counted; the five busiest named (h6 7, h5 6, h4 5, h3 4, h2 3), the rest
    // (377 - 25 = 352, of them 100 from sources beyond the remembered ones) only counted.
    EXPECT_EQ(lines[1],
              "377 more connections refused, every connection busy: from h6 (7), h5 (6), h4 (5), "
              "h3 (4), h2 (3), 352 from other addresses");
    EXPECT_EQ(queue.pendingCount(), 0u);
    log.flush();
    EXPECT_EQ(lines.size(), 2u);
}

TEST(AcceptPause, OneShortageIsReportedOnceWhenItEndsWithItsCountAndLength) {
    AcceptPause pause;
    const AcceptPause::Clock::time_point start{};
    EXPECT_EQ(pause.ended(start), std::nullopt);
    for (int i = 0; i < 186; ++i) pause.pausedAgain("Too many open files", start + i * 100ms);
    EXPECT_EQ(pause.ended(start + 18'550ms),
              "accepting was paused 186 times over 18.5 s, out of resources: Too many open files");
    EXPECT_EQ(pause.ended(start + 20s), std::nullopt);
    pause.pausedAgain("No buffer space available", start + 30s);
    EXPECT_EQ(
        pause.ended(start + 30s),
        "accepting was paused 1 time over 0.0 s, out of resources: No buffer space available");
}

}  // namespace
}  // namespace kestrune
