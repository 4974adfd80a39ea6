#include <gtest/gtest.h>

#include "platform/linux/x11/TriggerEventRules.hpp"

namespace kestrune {
namespace {

using Notice = x11::TriggerEventRules::Notice;

constexpr int rightAlt = 108;
constexpr int leftShift = 50;
constexpr int keyA = 38;
constexpr int keyF5 = 71;

TEST(TriggerEventRules, ModifierTriggerNoticesOtherInputOnlyWhileDown) {
    x11::TriggerEventRules rules(TriggerKey::modifier(61));
    ASSERT_TRUE(rules.isWatchable());
    EXPECT_EQ(rules.key(keyA, true, false), std::nullopt);
    EXPECT_EQ(rules.button(1, false), std::nullopt);
    EXPECT_EQ(rules.key(rightAlt, true, false), Notice::press);
    EXPECT_EQ(rules.key(rightAlt, true, false), std::nullopt);  // duplicate
    EXPECT_EQ(rules.key(leftShift, true, false), Notice::otherInput);
    EXPECT_EQ(rules.key(leftShift, false, false), Notice::otherInput);  // modifiers count both ways
    EXPECT_EQ(rules.key(keyA, false, false), std::nullopt);  // other keys only when going down
    EXPECT_EQ(rules.button(3, false), Notice::otherInput);
    EXPECT_EQ(rules.button(5, false), std::nullopt);  // wheel
    EXPECT_EQ(rules.button(8, false), Notice::otherInput);
    EXPECT_EQ(rules.key(keyA, true, true), std::nullopt);  // our own typing
    EXPECT_EQ(rules.modifierFlags(), 0x40u);
    EXPECT_EQ(rules.key(rightAlt, false, false), Notice::release);
    EXPECT_EQ(rules.modifierFlags(), 0u);
}

TEST(TriggerEventRules, DedicatedTriggerIgnoresOtherInput) {
    x11::TriggerEventRules rules(TriggerKey::dedicatedKey(96));
    ASSERT_EQ(rules.triggerKeycode(), keyF5);
    EXPECT_FALSE(rules.watchesOtherInput());
    EXPECT_EQ(rules.key(keyF5, true, false), Notice::press);
    EXPECT_EQ(rules.key(keyA, true, false), std::nullopt);
    EXPECT_EQ(rules.button(1, false), std::nullopt);
    EXPECT_TRUE(rules.isKeyDown(keyF5));
    rules.reset();
    EXPECT_FALSE(rules.isKeyDown(keyF5));
    EXPECT_EQ(rules.key(keyF5, false, false), std::nullopt);  // the forgotten hold's release
    EXPECT_EQ(rules.key(keyF5, true, false), Notice::press);
}

TEST(TriggerEventRules, UnwatchableTriggers) {
    EXPECT_FALSE(x11::TriggerEventRules(TriggerKey::modifier(63)).isWatchable());  // Fn
    EXPECT_FALSE(x11::TriggerEventRules(TriggerKey::modifier(96)).isWatchable());  // F5
    EXPECT_FALSE(x11::TriggerEventRules(TriggerKey::dedicatedKey(300)).isWatchable());
    x11::TriggerEventRules fn(TriggerKey::modifier(63));
    EXPECT_EQ(fn.key(keyA, true, false), std::nullopt);
    EXPECT_EQ(fn.key(-1, true, false), std::nullopt);
    EXPECT_EQ(fn.key(400, true, false), std::nullopt);
}

}  // namespace
}  // namespace kestrune
