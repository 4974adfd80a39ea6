#include <gtest/gtest.h>

#include <algorithm>

#include "Kestrune/settings/ui/TriggerKeyChoices.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {
namespace {

using SettingsControls::title;
using SettingsControls::triggerKeyChoices;

const TriggerKey kRightAlt = TriggerKey::modifier(61);
const TriggerKey kRightCtrl = TriggerKey::modifier(62);
const TriggerKey kRightSuper = TriggerKey::modifier(54);
const TriggerKey kFn = TriggerKey::modifier(63);

TEST(TriggerKeyChoices, OffersThePresetsAnX11SessionCanWatchAfterAnyOtherCurrentKey) {
    const std::vector<TriggerKey> presets{kRightAlt, kRightCtrl, kRightSuper};
    EXPECT_EQ(triggerKeyChoices(kRightCtrl), presets);

    const auto f5 = TriggerKey::dedicatedKey(96);
    std::vector<TriggerKey> withF5{f5};
    withF5.insert(withF5.end(), presets.begin(), presets.end());
    EXPECT_EQ(triggerKeyChoices(f5), withF5);

    // A stored Fn stays visible as the current key although it is never offered.
    const auto fromFn = triggerKeyChoices(kFn);
    ASSERT_EQ(fromFn.size(), 4u);
    EXPECT_EQ(fromFn.front(), kFn);
    EXPECT_EQ(std::count(fromFn.begin(), fromFn.end(), kFn), 1);

    // The same code as a dedicated key is not the preset.
    EXPECT_EQ(triggerKeyChoices(TriggerKey::dedicatedKey(61)).front(),
              TriggerKey::dedicatedKey(61));
}

TEST(TriggerKeyChoices, TitlesNamePresetsPlainlyAndMarkOtherKeysInTheInterfaceLanguage) {
    auto& l10n = L10n::shared();
    l10n.setLanguageOverride("en");
    EXPECT_EQ(title(kRightAlt), "Right Alt");
    EXPECT_EQ(title(kFn), "Fn");
    EXPECT_EQ(title(TriggerKey::dedicatedKey(96)), "F5 (custom)");
    EXPECT_EQ(title(TriggerKey::dedicatedKey(200)), "Key 200 (custom)");
    EXPECT_EQ(title(TriggerKey::dedicatedKey(61)), "Right Alt (custom)");
    EXPECT_NE(SettingsControls::triggerKeyCaption().find("X11"), std::string::npos);

    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(title(TriggerKey::dedicatedKey(96)), "F5（自定义）");
    EXPECT_EQ(title(kRightSuper), "Right Super");
    EXPECT_EQ(SettingsControls::triggerKeyCaption(), "不提供 Fn 键：X11 会话无法监听它");
    l10n.setLanguageOverride(std::nullopt);
}

}  // namespace
}  // namespace kestrune
