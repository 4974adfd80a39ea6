#pragma once

#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// "Show Welcome Window…", to see the first-run window again.
class WelcomeSection final : public SettingsSectionView {
  public:
    explicit WelcomeSection(const SettingsViewContext& context);
};

}  // namespace kestrune
