#pragma once

#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

class QPlainTextEdit;

namespace kestrune {

class TriggerKeyPicker;
class TriggerKeyRecorder;

// The push-to-talk key: a choice among the presets, or any spare key recorded by pressing it.
// Both follow the stored key, and so do the compositor's binding lines on a Wayland session.
class PushToTalkSection final : public SettingsSectionView {
  public:
    explicit PushToTalkSection(const SettingsViewContext& context);

  private:
    TriggerKeyPicker* picker_;
    TriggerKeyRecorder* recorder_;
    QPlainTextEdit* bindings_ = nullptr;
    Subscription following_;
    Subscription followingShortcut_;
};

}  // namespace kestrune
