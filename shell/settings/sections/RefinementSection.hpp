#pragma once

#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/sections/ConnectionTestRow.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// Refinement by a chat-completions model: the switch, the service's form with its "Test", and
// why the key store could not be reached when it could not.
class RefinementSection final : public SettingsSectionView, private ConnectionTestRow::Form {
  public:
    explicit RefinementSection(const SettingsViewContext& context);

  private:
    Test test() const override;
    // With refinement on and no test result, which field still keeps it from working.
    std::string statusLine(const std::string& testResult) const override;

    SettingsWindowController::Dependencies& deps_;
    SettingsControls::DraftForm& drafts_;
    Subscription keyStoreFailure_;
};

}  // namespace kestrune
