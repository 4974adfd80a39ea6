#pragma once

#include <functional>
#include <optional>

#include "shell/settings/sections/SettingsSectionView.hpp"

class QLabel;
class QListView;
class QPushButton;
class QVBoxLayout;

namespace kestrune {

class PhoneListModel;
struct PairedDevice;

// "Pair a New Phone…" and the paired phones, each with its "Remove…" button; the list is as high
// as its rows until they would take more than the screen can spare, then it scrolls. Without
// phones, "No paired phones" in its place.
class PairedPhonesSection final : public SettingsSectionView {
  public:
    explicit PairedPhonesSection(const SettingsViewContext& context);

  private:
    // The rows' buttons, the list's height and the empty state, after the rows changed.
    void showRows();
    QPushButton* removeButton(const PairedDevice& device);
    void showEmptyState(bool empty);
    std::optional<int> availableScreenHeight() const;

    SettingsWindowController::Dependencies& deps_;
    std::function<void()> contentChanged_;
    QVBoxLayout* column_;
    PhoneListModel* model_;
    QListView* list_;
    // Made only while there is no phone, so it is in the window exactly while it is shown.
    QLabel* empty_ = nullptr;
};

}  // namespace kestrune
