#include <gtest/gtest.h>

#include "Kestrune/dictation/keys/RecordingGate.hpp"
#include "Kestrune/dictation/keys/RecordingMonitorStartPolicy.hpp"
#include "Kestrune/dictation/keys/RecordingReleasePollPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerHoldPolicy.hpp"

namespace kestrune {
namespace {

using Phase = RecordingGate::Phase;
using Kind = RecordingGate::ReleaseAction::Kind;

TEST(TriggerHoldPolicy, OnlyAnUninterruptedCurrentHoldRecords) {
    TriggerHoldPolicy policy;
    auto first = policy.beginHold();
    EXPECT_TRUE(policy.shouldStartRecording(first));
    policy.noteOtherInput();
    EXPECT_FALSE(policy.shouldStartRecording(first));

    auto second = policy.beginHold();
    EXPECT_NE(first, second);
    EXPECT_FALSE(policy.shouldStartRecording(first));
    EXPECT_TRUE(policy.shouldStartRecording(second));
    policy.endHold();
    EXPECT_FALSE(policy.shouldStartRecording(second));

    // Other input after the release does not mark the next hold.
    policy.noteOtherInput();
    auto third = policy.beginHold();
    EXPECT_TRUE(policy.shouldStartRecording(third));
}

TEST(RecordingGate, PressConfirmReleaseFinish) {
    RecordingGate gate;
    auto attempt = gate.press();
    ASSERT_TRUE(attempt);
    EXPECT_EQ(gate.phase(), Phase::preparing);
    EXPECT_EQ(gate.confirmRecording(*attempt), RecordingGate::Confirmation::record);
    EXPECT_EQ(gate.phase(), Phase::recording);
    auto release = gate.release();
    EXPECT_EQ(release.kind, Kind::stopRecording);
    EXPECT_EQ(release.attempt, attempt);
    EXPECT_EQ(gate.phase(), Phase::stopping);
    EXPECT_TRUE(gate.beginRefining(*attempt));
    EXPECT_EQ(gate.phase(), Phase::refining);
    gate.finish(*attempt);
    EXPECT_EQ(gate.phase(), Phase::idle);
    EXPECT_FALSE(gate.activeAttempt());
}

TEST(RecordingGate, LateAndStaleAnswersChangeNothing) {
    RecordingGate gate;
    auto first = *gate.press();
    EXPECT_EQ(gate.release().kind, Kind::cancelPreparation);
    EXPECT_EQ(gate.phase(), Phase::idle);
    EXPECT_EQ(gate.confirmRecording(first), RecordingGate::Confirmation::stale);

    auto second = *gate.press();
    EXPECT_NE(first, second);
    EXPECT_EQ(gate.confirmRecording(second), RecordingGate::Confirmation::record);
    EXPECT_EQ(gate.release().kind, Kind::stopRecording);
    // A press while stopping starts nothing but is remembered.
    EXPECT_FALSE(gate.press());
    EXPECT_TRUE(gate.isPressed());
    gate.finish(first);
    EXPECT_EQ(gate.phase(), Phase::stopping);
    EXPECT_FALSE(gate.beginRefining(first));
    gate.finish(second);
    EXPECT_EQ(gate.phase(), Phase::idle);
    EXPECT_FALSE(gate.isPressed());
    EXPECT_EQ(gate.release().kind, Kind::nothing);
}

TEST(RecordingMonitorStartPolicy, FollowsStartsAndStops) {
    RecordingMonitorStartPolicy policy;
    EXPECT_EQ(policy.status(), RecordingMonitorStartPolicy::Status::idle);
    policy.noteStart(false);
    EXPECT_EQ(policy.status(), RecordingMonitorStartPolicy::Status::waitingForAccessibility);
    policy.noteStart(true);
    EXPECT_EQ(policy.status(), RecordingMonitorStartPolicy::Status::monitoring);
    policy.noteStop();
    EXPECT_EQ(policy.status(), RecordingMonitorStartPolicy::Status::idle);
}

TEST(RecordingReleasePollPolicy, PollsOnlyWhilePressedAndPreparingOrRecording) {
    RecordingGate gate;
    EXPECT_FALSE(RecordingReleasePollPolicy::shouldContinuePolling(gate));
    auto attempt = *gate.press();
    EXPECT_TRUE(RecordingReleasePollPolicy::shouldContinuePolling(gate));
    gate.confirmRecording(attempt);
    EXPECT_TRUE(RecordingReleasePollPolicy::shouldContinuePolling(gate));
    gate.release();
    EXPECT_FALSE(RecordingReleasePollPolicy::shouldContinuePolling(gate));
    EXPECT_EQ(RecordingReleasePollPolicy::kPollInterval, std::chrono::milliseconds(80));
}

TEST(RecordingReleasePollPolicy, ReadsKeyStateOrModifierFlags) {
    std::uint16_t asked = 0;
    KeyboardState state{[&](std::uint16_t code) {
                            asked = code;
                            return code == 96;
                        },
                        [] { return std::uint64_t{0x40}; }};
    EXPECT_TRUE(RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::dedicatedKey(96), state));
    EXPECT_EQ(asked, 96);
    EXPECT_FALSE(RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::dedicatedKey(97), state));
    EXPECT_FALSE(
        RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::dedicatedKey(70000), state));
    EXPECT_FALSE(RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::dedicatedKey(-1), state));
    EXPECT_TRUE(RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::modifier(61), state));
    EXPECT_FALSE(RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::modifier(58), state));
    // A "modifier" trigger on a key that is no catalogued modifier is never down.
    EXPECT_FALSE(RecordingReleasePollPolicy::isTriggerKeyDown(TriggerKey::modifier(96), state));
}

}  // namespace
}  // namespace kestrune
