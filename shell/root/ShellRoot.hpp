#pragma once

#include <memory>

#include "app/Root.hpp"

namespace kestrune {

class AppCoordinator;
class LaunchOrder;
class RemoteInputController;
class SendShortcut;
class SettingsStore;
class TrayIcon;

namespace tray {
class ControlAnswers;
}

// The Qt-side composition root of the tray application `murrelo`: the Qt event loop's main queue,
// the Qt parts the Qt-free root (app::Root) needs (the recording panel, Phone Connection's prompts
// and pairing window, the computer's name), then the Qt side's own services (the Send-to-Phone
// shortcut's X11 hot key service, the desktop notifier, the settings window's desktop side, the
// Launch at Login entry) and the tray's parts made with them: the windows, the icon, the shortcut,
// the control interface's answers and the launch and quit order. Made after the QApplication and
// destroyed before it; GUI thread only.
class ShellRoot {
  public:
    explicit ShellRoot(app::Root::Options options);
    ~ShellRoot();
    ShellRoot(const ShellRoot&) = delete;
    ShellRoot& operator=(const ShellRoot&) = delete;

    LaunchOrder& launchOrder();
    tray::ControlAnswers& controlAnswers();

    // For tests: the parts on screen and the state they show.
    TrayIcon& trayIcon();
    SendShortcut& sendShortcut();
    RemoteInputController& phoneConnection();
    SettingsStore& settings();
    AppCoordinator& dictation();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune
