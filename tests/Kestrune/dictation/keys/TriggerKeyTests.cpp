#include <gtest/gtest.h>

#include <set>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"

namespace kestrune {
namespace {

using Role = KeyCatalog::Role;

TEST(TriggerKey, PersistedFormRoundTrips) {
    EXPECT_EQ(TriggerKey::modifier(63).persistedValue(), "modifier:63");
    EXPECT_EQ(TriggerKey::dedicatedKey(96).persistedValue(), "key:96");
    EXPECT_EQ(TriggerKey::fromPersistedValue("modifier:63"), TriggerKey::modifier(63));
    EXPECT_EQ(TriggerKey::fromPersistedValue("key:96"), TriggerKey::dedicatedKey(96));
    EXPECT_EQ(TriggerKey::fromPersistedValue("key:-5"), TriggerKey::dedicatedKey(-5));
    EXPECT_EQ(TriggerKey::fromPersistedValue("key:+7"), TriggerKey::dedicatedKey(7));
    // Empty pieces before the first colon do not count.
    EXPECT_EQ(TriggerKey::fromPersistedValue(":modifier:61"), TriggerKey::modifier(61));
}

TEST(TriggerKey, MalformedStoredValuesAreRejected) {
    for (const char* text : {"modifier:", ":63", "modifier", "mod:63", "key:abc", "key:6:3", "",
                             "Key:5", "key: 5", "key:99999999999999999999", "modifier::63"}) {
        EXPECT_EQ(TriggerKey::fromPersistedValue(text), std::nullopt) << text;
    }
}

TEST(TriggerKey, BindingRefusesTypingKeys) {
    for (std::int64_t code : {0, 49, 36, 123, 57, 29, 51}) {
        EXPECT_EQ(TriggerKey::binding(code), std::nullopt) << code;
    }
    EXPECT_EQ(TriggerKey::binding(61), TriggerKey::modifier(61));
    EXPECT_EQ(TriggerKey::binding(63), TriggerKey::modifier(63));
    for (std::int64_t code : {96, 110, 76, 102, 200, 24, 114}) {
        EXPECT_EQ(TriggerKey::binding(code), TriggerKey::dedicatedKey(code)) << code;
    }
}

TEST(TriggerKey, PresetsAreTheFourModifiersInOrder) {
    const auto& presets = TriggerKey::presets();
    EXPECT_EQ(presets[0], TriggerKey::modifier(63));
    EXPECT_EQ(presets[1], TriggerKey::modifier(61));
    EXPECT_EQ(presets[2], TriggerKey::modifier(62));
    EXPECT_EQ(presets[3], TriggerKey::modifier(54));
    EXPECT_TRUE(TriggerKey::modifier(61).isPreset());
    EXPECT_FALSE(TriggerKey::dedicatedKey(61).isPreset());
    EXPECT_FALSE(TriggerKey::modifier(58).isPreset());
}

TEST(KeyCatalog, HasEveryKeyOnceWithItsRole) {
    const auto& table = KeyCatalog::table();
    EXPECT_EQ(table.size(), 116u);
    std::map<Role, int> perRole;
    for (const auto& [code, descriptor] : table) ++perRole[descriptor.role];
    EXPECT_EQ(perRole[Role::typing], 36);
    EXPECT_EQ(perRole[Role::essential], 9);
    EXPECT_EQ(perRole[Role::latchingToggle], 1);
    EXPECT_EQ(perRole[Role::punctuation], 11);
    EXPECT_EQ(perRole[Role::function], 20);
    EXPECT_EQ(perRole[Role::navigation], 7);
    EXPECT_EQ(perRole[Role::keypad], 18);
    EXPECT_EQ(perRole[Role::inputMethod], 5);
    EXPECT_EQ(perRole[Role::modifier], 9);
    std::set<std::string> names;
    for (const auto& [code, descriptor] : table) names.insert(descriptor.name);
    EXPECT_EQ(names.size(), table.size()) << "names must tell keys apart";
}

TEST(KeyCatalog, NamesUsePcLabels) {
    EXPECT_EQ(KeyCatalog::name(200), "Key 200");
    EXPECT_EQ(KeyCatalog::name(-1), "Key -1");
    EXPECT_EQ(KeyCatalog::name(54), "Right Super");
    EXPECT_EQ(KeyCatalog::name(58), "Left Alt");
    EXPECT_EQ(KeyCatalog::name(61), "Right Alt");
    EXPECT_EQ(KeyCatalog::name(59), "Left Ctrl");
    EXPECT_EQ(KeyCatalog::name(62), "Right Ctrl");
    EXPECT_EQ(KeyCatalog::name(51), "Backspace");
    EXPECT_EQ(KeyCatalog::name(117), "Delete");
    EXPECT_EQ(KeyCatalog::name(114), "Insert");
    EXPECT_EQ(KeyCatalog::name(50), "`");
    EXPECT_EQ(KeyCatalog::name(102), "英数 (JIS Eisu)");
    EXPECT_EQ(KeyCatalog::name(96), "F5");
}

TEST(KeyCatalog, ModifierMasksDecideWhetherAModifierIsDown) {
    EXPECT_EQ(KeyCatalog::modifierFlagMasks().size(), 9u);
    EXPECT_TRUE(KeyCatalog::isModifierDown(61, 0x40 | 0x80000));
    EXPECT_FALSE(KeyCatalog::isModifierDown(61, 0x20));
    EXPECT_TRUE(KeyCatalog::isModifierDown(63, 0x800000));
    EXPECT_TRUE(KeyCatalog::isModifierDown(62, 0x2000));
    EXPECT_FALSE(KeyCatalog::isModifierDown(62, 0x1));
    // Not a catalogued modifier: never down, whatever the flags.
    EXPECT_FALSE(KeyCatalog::isModifierDown(96, ~0ull));
    EXPECT_FALSE(KeyCatalog::isModifierDown(200, ~0ull));
}

}  // namespace
}  // namespace kestrune
