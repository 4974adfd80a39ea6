#pragma once

#include "shell/settings/sections/ConnectionTestRow.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// The recognizer (built-in, online or chosen by language) and the online transcription
// service's form with its "Test".
class RecognitionSection final : public SettingsSectionView, private ConnectionTestRow::Form {
  public:
    explicit RecognitionSection(const SettingsViewContext& context);

  private:
    Test test() const override;

    SettingsWindowController::Dependencies& deps_;
    SettingsControls::DraftForm& drafts_;
};

}  // namespace kestrune
