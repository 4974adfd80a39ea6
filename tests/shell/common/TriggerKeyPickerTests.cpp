#include <gtest/gtest.h>

#include <QApplication>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/common/TriggerKeyPicker.hpp"
#include "tests/support/QtTestApplication.hpp"

namespace kestrune {
namespace {

TEST(TriggerKeyPicker, ReportsAChosenKeyAndShowsOnlyWhatTheOwnerStores) {
    testing::widgetsApplication();
    L10n::shared().setLanguageOverride("en");
    std::vector<TriggerKey> reported;
    TriggerKeyPicker picker({.onChange = [&](TriggerKey key) { reported.push_back(key); }});

    picker.setCurrentKey(TriggerKey::dedicatedKey(96));
    ASSERT_EQ(picker.count(), 4);
    EXPECT_EQ(picker.currentIndex(), 0);
    EXPECT_EQ(picker.itemText(0), "F5 (custom)");
    EXPECT_EQ(picker.itemText(1), "Right Alt");
    EXPECT_EQ(picker.itemData(0).toString(), "key:96");
    EXPECT_FALSE(picker.accessibleName().isEmpty());

    // Choosing the current key again reports nothing; another key is reported and not yet shown.
    emit picker.activated(0);
    EXPECT_TRUE(reported.empty());
    emit picker.activated(2);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], TriggerKey::modifier(62));
    EXPECT_EQ(picker.currentKey(), TriggerKey::dedicatedKey(96));

    // Once stored, the custom key is gone from the list and the preset is selected.
    picker.setCurrentKey(TriggerKey::modifier(62));
    EXPECT_EQ(picker.count(), 3);
    EXPECT_EQ(picker.currentText(), "Right Ctrl");
    EXPECT_EQ(reported.size(), 1u) << "rebuilding must not report a choice";

    L10n::shared().setLanguageOverride("zh-Hans");
    picker.setCurrentKey(TriggerKey::dedicatedKey(96));
    picker.retranslate();
    EXPECT_EQ(picker.itemText(0), "F5（自定义）");
    L10n::shared().setLanguageOverride(std::nullopt);
}

}  // namespace
}  // namespace kestrune
