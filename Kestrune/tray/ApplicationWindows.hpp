#pragma once

namespace kestrune::tray {

// What the status menu and the control interface ask of the application besides Phone Connection
// and dictation: its windows, and quitting. The Qt side implements it. Main thread only.
class ApplicationWindows {
  public:
    virtual ~ApplicationWindows() = default;
    // The settings window: made on first use and kept, so that its pane and drafts survive.
    virtual void openSettings() = 0;
    virtual void showWelcome() = 0;
    virtual void showAbout() = 0;
    // Ends the event loop; the quit order runs on the way out.
    virtual void quit() = 0;
};

}  // namespace kestrune::tray
