#pragma once

#include <optional>

#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// "Pair a New Phone…" and the paired phones, each with its "Remove…" button; the list is as high
// as its rows until they would take more than the screen can spare, then it scrolls. Without
// phones, "No paired phones" in its place.
class PairedPhonesSection final : public SettingsSectionView {
  public:
    explicit PairedPhonesSection(const SettingsViewContext& context);

  private:
    void fillList();
    std::optional<int> availableScreenHeight() const;

    SettingsWindowController::Dependencies& deps_;
    QWidget* list_;
    Subscription following_;
};

}  // namespace kestrune
