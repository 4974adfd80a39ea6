#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// The settings window's tabs, in their order.
enum class SettingsPane { general, speech, phone, llm };
inline constexpr std::array<SettingsPane, 4> kAllSettingsPanes = {
    SettingsPane::general, SettingsPane::speech, SettingsPane::phone, SettingsPane::llm};

// The settings key remembering the last pane shown.
inline constexpr std::string_view kSettingsLastPaneKey = "settingsLastPane";

std::string_view rawValue(SettingsPane pane);
std::optional<SettingsPane> settingsPaneFromRawValue(std::string_view raw);
// The tab's label in the interface language.
std::string title(SettingsPane pane);
// The freedesktop icon-theme name of the tab's symbol.
std::string_view themeIconName(SettingsPane pane);

// The titled boxes of the panes, in the order they are shown.
enum class SettingsSection {
    pushToTalk,
    recognition,
    launchAtLogin,
    pairedPhones,
    phoneOptions,
    imageDestination,
    sendToPhone,
    llm,
    interfaceLanguage,
    welcome,
};

std::string title(SettingsSection section);
SettingsPane pane(SettingsSection section);
// The sections of one pane in their order. There is no updater on Linux, so no Updates box.
std::vector<SettingsSection> sections(SettingsPane pane);

}  // namespace kestrune
