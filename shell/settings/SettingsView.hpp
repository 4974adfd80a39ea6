#pragma once

#include <vector>

#include <QWidget>

#include "Kestrune/settings/ui/SettingsPane.hpp"
#include "shell/settings/sections/SettingsSectionView.hpp"

namespace kestrune {

// The content of one pane: its sections as titled boxes, top to bottom, in keyboard order.
// GUI thread only.
class SettingsView final : public QWidget {
  public:
    SettingsView(SettingsPane pane, SettingsViewContext context, QWidget* parent = nullptr);

    // The height the pane needs at `width`.
    int fittingHeight(int width) const;
    // Reads again what may have changed while the application was in the background.
    void refresh();

  private:
    QWidget* box(SettingsSection section, SettingsSectionView* content);
    // Tab goes through the controls in the order they are laid out, also after a section changed
    // its controls (new widgets would otherwise come last).
    void restoreTabOrder();

    SettingsViewContext context_;
    // Owned by their boxes.
    std::vector<SettingsSectionView*> sections_;
};

}  // namespace kestrune
