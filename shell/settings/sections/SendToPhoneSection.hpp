#pragma once

#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

class HotKeyRecorder;

// The Send-to-Phone shortcut: recorded by pressing it, cleared, and following the stored one.
class SendToPhoneSection final : public SettingsSectionView {
  public:
    explicit SendToPhoneSection(const SettingsViewContext& context);

  private:
    HotKeyRecorder* recorder_;
    Subscription following_;
};

}  // namespace kestrune
