#pragma once

#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class AppCoordinator;
class RemoteInputController;
class SendShortcut;
class SettingsStore;
class TrayIcon;
class TrayWindows;

namespace tray {
class ControlAnswers;
}

// The order in which the running application's parts start at launch and settle at quit: each
// step needs what the ones before it set up (the language before any text, the icon before what
// draws on it), and at quit nothing is typed once Phone Connection starts to stop. GUI thread
// only; every dependency outlives it.
class LaunchOrder {
  public:
    struct Dependencies {
        SettingsStore& settings;
        TrayIcon& icon;
        SendShortcut& shortcut;
        AppCoordinator& dictation;
        RemoteInputController& phone;
        tray::ControlAnswers& answers;
        TrayWindows& windows;
    };

    explicit LaunchOrder(Dependencies dependencies);
    LaunchOrder(const LaunchOrder&) = delete;
    LaunchOrder& operator=(const LaunchOrder&) = delete;

    void launch();
    // Runs as the event loop ends (QCoreApplication::aboutToQuit).
    void quit();

  private:
    Dependencies deps_;
    Subscription phoneStatus_;
    Subscription sendFeedback_;
};

}  // namespace kestrune
