#pragma once

#include <functional>

#include <QWidget>

#include "Kestrune/settings/ui/SettingsControls.hpp"
#include "shell/settings/SettingsWindowController.hpp"

namespace kestrune {

// What a section works with; owned by the window controller, which outlives its panes.
struct SettingsViewContext {
    SettingsWindowController::Dependencies& dependencies;
    SettingsControls::DraftForm& llmDrafts;
    SettingsControls::DraftForm& transcriptionDrafts;
    // The content changed its controls or its height: keep the keyboard order and fit the window.
    // Never empty in the context a section is given.
    std::function<void()> contentChanged;
};

// The content of one titled box of a pane, built at construction in the interface language of
// that moment: a language change rebuilds the panes rather than relabelling them, so that a
// field losing its widget with the focus in it commits its draft. From then on the section
// follows the models it shows by itself. The drafts of the text fields live in the window
// controller, which commits them. GUI thread only.
class SettingsSectionView : public QWidget {
  public:
    // Reads again what can change without telling anyone (the autostart entry, edited outside the
    // application); called when the application comes back to the front.
    virtual void refresh() {}

  protected:
    SettingsSectionView() = default;
};

}  // namespace kestrune
