#pragma once

#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// The language of the interface, announced to every window once chosen.
class InterfaceLanguageSection final : public SettingsSectionView {
  public:
    explicit InterfaceLanguageSection(const SettingsViewContext& context);
};

}  // namespace kestrune
