#include <gtest/gtest.h>

#include <QKeyCombination>
#include <cstdlib>

#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/x11/OwnInjection.hpp"
#include "platform/linux/x11/TriggerKeyMonitor.hpp"
#include "platform/linux/x11/X11Typist.hpp"
#include "tests/support/EventRecorder.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/WaitUntil.hpp"

namespace kestrune {
namespace {

using testing::fakeButton;
using testing::fakeKey;
using Notices = std::vector<std::string>;

// X keycodes of the US keymap of the test server.
constexpr int keyA = 38;
constexpr int keyB = 56;
constexpr int keyF5 = 71;
constexpr int leftShift = 50;
constexpr int rightAlt = 108;

class X11Trigger : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
    }
    void watch(TriggerKey key) {
        monitor_.setTriggerKey(key);
        monitor_.setEvents({.pressed = notices_.recorder("press"),
                            .released = notices_.recorder("release"),
                            .otherInput = notices_.recorder("other")});
        ASSERT_TRUE(monitor_.start());
    }
    void tap(int keycode) {
        fakeKey(keycode, true);
        fakeKey(keycode, false);
    }

    SerialQueue main_{"test-main"};
    testing::EventRecorder notices_;
    x11::TriggerKeyMonitor monitor_{main_};
};

TEST_F(X11Trigger, DedicatedKeyIsReportedOnceAndSwallowed) {
    auto receiver = testing::ReceiverProcess::startQt();
    ASSERT_TRUE(receiver && receiver->focus());
    watch(TriggerKey::dedicatedKey(96));  // F5
    tap(keyA);
    fakeKey(keyF5, true);
    fakeKey(keyF5, true);  // a second down, as a held key repeats
    fakeKey(keyF5, false);
    tap(keyB);
    tap(keyF5);
    EXPECT_EQ(notices_.waitFor(4), (Notices{"press", "release", "press", "release"}));
    EXPECT_EQ(receiver->waitForText("ab", std::chrono::seconds(10)), "ab");
    auto f5 = std::to_string(QKeyCombination(Qt::Key_F5).toCombined());
    EXPECT_EQ(receiver->ask("keys").find(f5), std::string::npos) << "F5 reached the application";
}

TEST_F(X11Trigger, KeyHeldByAnotherClientCannotBeTheTrigger) {
    watch(TriggerKey::dedicatedKey(96));
    x11::TriggerKeyMonitor second(main_);
    second.setTriggerKey(TriggerKey::dedicatedKey(96));
    const auto started = second.start();
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error(), TriggerKeySource::StartFailure::keyUnwatchable);
    EXPECT_FALSE(second.isRunning());
}

TEST_F(X11Trigger, ModifierTriggerReportsOtherInputWhileDown) {
    watch(TriggerKey::modifier(61));  // Right Alt
    tap(keyA);                        // nothing: the trigger is up
    fakeKey(rightAlt, true);
    EXPECT_EQ(notices_.waitFor(1), Notices{"press"});
    EXPECT_EQ(monitor_.keyboardState().modifierFlags() & 0x40, 0x40u);
    fakeKey(leftShift, true);
    fakeKey(leftShift, false);
    fakeButton(1);
    fakeButton(4);  // a wheel step is no click
    tap(keyB);
    fakeKey(rightAlt, false);
    EXPECT_EQ(notices_.waitFor(6),
              (Notices{"press", "other", "other", "other", "other", "release"}));
    EXPECT_EQ(monitor_.keyboardState().modifierFlags() & 0x40, 0u);
}

TEST_F(X11Trigger, OwnTypingIsNotOtherInput) {
    watch(TriggerKey::modifier(61));
    fakeKey(rightAlt, true);
    // Test input comes through XTest like ours: it must be seen before our typing starts.
    EXPECT_EQ(notices_.waitFor(1), Notices{"press"});
    auto typist = x11::Typist::open();
    ASSERT_TRUE(typist);
    typist->typeText("typed by us");
    // The input below stands for the user's keyboard, which is never our own typing; XTest
    // events right after ours would still count as ours.
    ASSERT_TRUE(testing::waitUntil([] { return !x11::OwnInjection::isActive(); }));
    fakeKey(rightAlt, false);
    EXPECT_EQ(notices_.waitFor(2), (Notices{"press", "release"}));
    tap(rightAlt);
    EXPECT_EQ(notices_.waitFor(4), (Notices{"press", "release", "press", "release"}));
}

TEST_F(X11Trigger, StopForgetsTheDownState) {
    watch(TriggerKey::modifier(61));
    fakeKey(rightAlt, true);
    EXPECT_EQ(notices_.waitFor(1), Notices{"press"});
    monitor_.stop();
    EXPECT_TRUE(monitor_.start());
    EXPECT_TRUE(monitor_.start());  // already running
    fakeKey(rightAlt, false);       // its release belongs to the forgotten hold
    tap(rightAlt);
    EXPECT_EQ(notices_.waitFor(3), (Notices{"press", "press", "release"}));
}

TEST_F(X11Trigger, TriggersXCannotReportDoNotStart) {
    for (const auto key : {TriggerKey::modifier(63),  // Fn has no X keycode
                           TriggerKey::modifier(96),  // F5 is no modifier
                           TriggerKey::dedicatedKey(500)}) {
        monitor_.setTriggerKey(key);
        const auto started = monitor_.start();
        ASSERT_FALSE(started.ok()) << key.persistedValue();
        EXPECT_EQ(started.error(), TriggerKeySource::StartFailure::keyUnwatchable);
    }
}

}  // namespace
}  // namespace kestrune
