#pragma once

#include "shell/settings/sections/SettingsSectionView.hpp"

class QCheckBox;
class QLabel;

namespace kestrune {

// The launch-at-login switch as the login item's model reads it, with a note when it cannot work
// here or why the last change failed.
class LaunchAtLoginSection final : public SettingsSectionView {
  public:
    explicit LaunchAtLoginSection(const SettingsViewContext& context);

    // Shows the state as the model reads it now, without an old failure.
    void refresh() override;

  private:
    const SettingsWindowController::LaunchAtLogin& login_;
    std::function<void()> contentChanged_;
    QCheckBox* toggle_;
    QLabel* note_;
};

}  // namespace kestrune
