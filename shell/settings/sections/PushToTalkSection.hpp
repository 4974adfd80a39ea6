#pragma once

#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

class TriggerKeyPicker;
class TriggerKeyRecorder;

// The push-to-talk key: a choice among the presets, or any spare key recorded by pressing it.
// Both follow the stored key.
class PushToTalkSection final : public SettingsSectionView {
  public:
    explicit PushToTalkSection(const SettingsViewContext& context);

  private:
    TriggerKeyPicker* picker_;
    TriggerKeyRecorder* recorder_;
    Subscription following_;
};

}  // namespace kestrune
