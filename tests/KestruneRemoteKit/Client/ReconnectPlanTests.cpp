#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>

#include "KestruneRemoteKit/Client/ReconnectPlan.hpp"

namespace kestrune {
namespace {

using Phase = ReconnectPlan::Phase;
using Event = ReconnectPlan::Event;
using Action = ReconnectPlan::Action;
using Actions = std::vector<Action>;
const Action connect = ReconnectPlan::Connect{};
const Action disconnect = ReconnectPlan::Disconnect{};

ReconnectPlan fixed(double r) {
    return ReconnectPlan([r] { return r; });
}

double retryDelay(const Actions& actions) {
    EXPECT_EQ(actions.size(), 1u);
    const auto* retry =
        actions.empty() ? nullptr : std::get_if<ReconnectPlan::Retry>(&actions.front());
    EXPECT_NE(retry, nullptr);
    return retry ? retry->after : std::numeric_limits<double>::quiet_NaN();
}

// Drives a fresh plan into `phase` by the shortest route.
ReconnectPlan planIn(Phase phase) {
    auto plan = fixed(0.5);
    const std::map<Phase, std::vector<Event>> routes = {
        {Phase::background, {}},
        {Phase::connecting, {Event::foreground}},
        {Phase::connected, {Event::foreground, Event::connected}},
        {Phase::waiting, {Event::foreground, Event::ended}},
        {Phase::parked, {Event::foreground, Event::rejected}},
        {Phase::awaitingRepair, {Event::foreground, Event::certificateMismatch}},
    };
    for (const auto event : routes.at(phase)) plan.handle(event);
    EXPECT_EQ(plan.phase(), phase);
    return plan;
}

TEST(ReconnectPlan, SuccessiveDropsBackOffUpToThirtySeconds) {
    auto plan = fixed(0.5);
    EXPECT_EQ(plan.handle(Event::foreground), Actions{connect});
    std::vector<double> waits;
    for (int i = 0; i < 8; ++i) {
        waits.push_back(retryDelay(plan.handle(Event::ended)));
        EXPECT_EQ(plan.phase(), Phase::waiting);
        EXPECT_EQ(plan.failures(), i + 1);
        EXPECT_EQ(plan.handle(Event::retryDue), Actions{connect});
        EXPECT_EQ(plan.failures(), i + 1)
            << "a new attempt keeps the count, so the next drop waits longer";
    }
    EXPECT_EQ(waits, (std::vector<double>{1, 2, 4, 8, 16, 30, 30, 30}));
}

TEST(ReconnectPlan, JitterSpreadsEachDelayByTwentyPercent) {
    const struct {
        double random;
        double firstDelay;
    } cases[] = {
        {0.0, 0.8},
        {1.0, 1.2},
        {0.25, 0.9},
        // A faulty source cannot stretch, shrink past the spread, or poison the delay.
        {-3.0, 0.8},
        {7.0, 1.2},
        {std::numeric_limits<double>::quiet_NaN(), 1.0},
        {std::numeric_limits<double>::infinity(), 1.2},
    };
    for (const auto& c : cases) {
        auto plan = fixed(c.random);
        plan.handle(Event::foreground);
        EXPECT_DOUBLE_EQ(retryDelay(plan.handle(Event::ended)), c.firstDelay) << c.random;
    }
    auto plan = fixed(1.0);
    plan.handle(Event::foreground);
    for (int i = 0; i < 6; ++i) {
        plan.handle(Event::ended);
        plan.handle(Event::retryDue);
    }
    EXPECT_DOUBLE_EQ(retryDelay(plan.handle(Event::ended)), 36.0);
}

TEST(ReconnectPlan, TheDefaultRandomSourceStaysWithinTheSpread) {
    for (int i = 0; i < 200; ++i) {
        ReconnectPlan plan;
        plan.handle(Event::foreground);
        const double delay = retryDelay(plan.handle(Event::ended));
        EXPECT_GE(delay, 0.8);
        EXPECT_LE(delay, 1.2);
    }
}

TEST(ReconnectPlan, ASuccessfulConnectionResetsTheBackoff) {
    auto plan = fixed(0.5);
    plan.handle(Event::foreground);
    for (int i = 0; i < 3; ++i) {
        plan.handle(Event::ended);
        plan.handle(Event::retryDue);
    }
    ASSERT_EQ(plan.failures(), 3);
    EXPECT_EQ(plan.handle(Event::connected), Actions{});
    EXPECT_EQ(plan.failures(), 0);
    EXPECT_DOUBLE_EQ(retryDelay(plan.handle(Event::ended)), 1.0);
}

TEST(ReconnectPlan, GoingToTheBackgroundDisconnectsOnceAndResets) {
    auto plan = planIn(Phase::waiting);
    ASSERT_EQ(plan.failures(), 1);
    EXPECT_EQ(plan.handle(Event::background), Actions{disconnect});
    EXPECT_EQ(plan.phase(), Phase::background);
    EXPECT_EQ(plan.failures(), 0);
    EXPECT_EQ(plan.handle(Event::background), Actions{});
    // A retry timer that fires after the app left the foreground starts nothing.
    EXPECT_EQ(plan.handle(Event::retryDue), Actions{});
    EXPECT_EQ(plan.phase(), Phase::background);
}

TEST(ReconnectPlan, StaleRetryWhileConnectingDoesNothing) {
    auto plan = planIn(Phase::connecting);
    EXPECT_EQ(plan.handle(Event::retryDue), Actions{});
    EXPECT_EQ(plan.phase(), Phase::connecting);
}

TEST(ReconnectPlan, CertificateMismatchWaitsForNewPairingData) {
    auto plan = planIn(Phase::connecting);
    EXPECT_EQ(plan.handle(Event::certificateMismatch), Actions{});
    EXPECT_EQ(plan.phase(), Phase::awaitingRepair);
    EXPECT_EQ(plan.handle(Event::macAppeared), Actions{});
    EXPECT_EQ(plan.handle(Event::retryDue), Actions{});
    EXPECT_EQ(plan.phase(), Phase::awaitingRepair);
    EXPECT_EQ(plan.handle(Event::pairingChanged), Actions{connect});
    EXPECT_EQ(plan.phase(), Phase::connecting);
}

// Every phase against every event: where the plan goes (none = stays), what it asks for, and what
// becomes of the failure count.
TEST(ReconnectPlan, TransitionTable) {
    enum class Count { same, reset, increment };
    struct Row {
        std::optional<Phase> next;
        Actions actions;
        Count count;
    };
    const Row ignored{std::nullopt, {}, Count::same};
    const Row toBackground{Phase::background, {disconnect}, Count::reset};
    const Row connectNow{Phase::connecting, {connect}, Count::same};
    const Row park{Phase::parked, {}, Count::reset};
    const Row repair{Phase::awaitingRepair, {}, Count::reset};
    const Row redial{Phase::connecting, {disconnect, connect}, Count::same};
    // The plan in `connecting` has had one drop already (so its backoff is the second, 2 s at
    // r = 0.5); in `connected` the count was just reset (1 s).
    const Row secondBackoff{Phase::waiting, {ReconnectPlan::Retry{2.0}}, Count::increment};
    const Row firstBackoff{Phase::waiting, {ReconnectPlan::Retry{1.0}}, Count::increment};
    const Row up{Phase::connected, {}, Count::reset};

    const std::vector<Event> events = {
        Event::foreground,     Event::background, Event::connected,          Event::ended,
        Event::rejected,       Event::retryDue,   Event::networkChanged,     Event::macAppeared,
        Event::pairingChanged, Event::macMoved,   Event::certificateMismatch};
    const struct {
        Phase phase;
        std::vector<Event> route;  // from a fresh plan
        std::vector<Row> rows;     // in the order of `events`
    } table[] = {
        {Phase::background,
         {},
         {connectNow, ignored, ignored, ignored, ignored, ignored, ignored, ignored, ignored,
          ignored, ignored}},
        {Phase::connecting,
         {Event::foreground, Event::ended, Event::retryDue},
         {ignored, toBackground, up, secondBackoff, park, ignored, redial, redial, redial, redial,
          repair}},
        {Phase::connected,
         {Event::foreground, Event::connected},
         {ignored, toBackground, ignored, firstBackoff, park, ignored, redial, ignored, redial,
          ignored, repair}},
        {Phase::waiting,
         {Event::foreground, Event::ended},
         {connectNow, toBackground, ignored, ignored, ignored, connectNow, connectNow, connectNow,
          connectNow, connectNow, ignored}},
        {Phase::parked,
         {Event::foreground, Event::rejected},
         {connectNow, toBackground, ignored, ignored, ignored, ignored, ignored, connectNow,
          connectNow, ignored, ignored}},
        {Phase::awaitingRepair,
         {Event::foreground, Event::certificateMismatch},
         {connectNow, toBackground, ignored, ignored, ignored, ignored, ignored, ignored,
          connectNow, connectNow, ignored}},
    };
    for (const auto& entry : table) {
        ASSERT_EQ(entry.rows.size(), events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            auto plan = fixed(0.5);
            for (const auto event : entry.route) plan.handle(event);
            ASSERT_EQ(plan.phase(), entry.phase);
            const int before = plan.failures();
            const Row& row = entry.rows[i];
            const std::string where =
                "phase " + std::to_string(int(entry.phase)) + ", event " + std::to_string(i);

            EXPECT_EQ(plan.handle(events[i]), row.actions) << where;
            EXPECT_EQ(plan.phase(), row.next.value_or(entry.phase)) << where;
            const int expected = row.count == Count::same    ? before
                                 : row.count == Count::reset ? 0
                                                             : before + 1;
            EXPECT_EQ(plan.failures(), expected) << where;
        }
    }
}

}  // namespace
}  // namespace kestrune
