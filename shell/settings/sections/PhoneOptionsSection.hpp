#pragma once

#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// Phone Connection's three switches: typing by paste, pictures at their original size, and
// turning off when idle.
class PhoneOptionsSection final : public SettingsSectionView {
  public:
    explicit PhoneOptionsSection(const SettingsViewContext& context);
};

}  // namespace kestrune
