#pragma once

#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

class QLabel;

namespace kestrune {

// Where pictures from phones are saved: the front file manager window's folder or a chosen one,
// with the chosen folder's name as the file manager shows it.
class ImageDestinationSection final : public SettingsSectionView {
  public:
    explicit ImageDestinationSection(const SettingsViewContext& context);

  private:
    void showFolder();

    SettingsWindowController::Dependencies& deps_;
    QLabel* folderName_;
    Subscription following_;
};

}  // namespace kestrune
