#pragma once

#include <string>

namespace kestrune {

// The panel that tells the user what dictation is doing. The coordinator drives it on the main
// queue; the Qt layer implements it (HUDPanelController), tests with a recording fake.
class RecordingPanel {
  public:
    virtual ~RecordingPanel() = default;

    // Shows the panel (on the screen holding the pointer) with `text`; an empty text reads
    // "Listening…". Also used to change the text of a panel already shown.
    virtual void show(const std::string& text) = 0;
    virtual void showRefining() = 0;
    virtual void hide() = 0;
    // 0…1, already clamped by the caller.
    virtual void updateLevel(double level) = 0;
};

}  // namespace kestrune
