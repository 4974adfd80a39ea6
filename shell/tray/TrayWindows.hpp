#pragma once

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/settings/login/LoginItem.hpp"
#include "Kestrune/tray/ApplicationWindows.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "shell/settings/ApplicationSettings.hpp"

class QMessageBox;

namespace kestrune {

class AppCoordinator;
class LaunchAtLoginModel;
class WelcomeWindowController;

// The windows the status menu and the control interface open: the settings window (made on first
// use and kept, so that its pane and drafts survive closing it), the welcome window (made on each
// first show, dropped when it closes) and the About box; and quitting. GUI thread only; every
// dependency outlives it.
class TrayWindows final : public tray::ApplicationWindows {
  public:
    struct Dependencies {
        ApplicationSettings::Dependencies settingsWindow;
        AppCoordinator& dictation;
        // Launch at Login's autostart entry; read when the settings window is first made.
        LoginItem loginItem;
        // Whether typing and key watching work in this session.
        std::function<bool()> isTrusted;
        // What keeps dictation in a language from working; none when a recognizer serves it.
        std::function<std::optional<std::string>(AppLanguage)> speechHint;
        // Lets the live Send-to-Phone shortcut go while true.
        std::function<void(bool recording)> onHotKeyRecording;
    };

    explicit TrayWindows(Dependencies dependencies);
    ~TrayWindows() override;
    TrayWindows(const TrayWindows&) = delete;
    TrayWindows& operator=(const TrayWindows&) = delete;

    void openSettings() override;
    void showWelcome() override;
    void showAbout() override;
    void quit() override;

    // Text typed into the settings window but not yet committed is written (the quit order).
    void commitDrafts();

  private:
    Dependencies deps_;
    std::unique_ptr<WelcomeWindowController> welcome_;
    // The window goes before the model of its launch-at-login switch.
    std::unique_ptr<LaunchAtLoginModel> launchAtLogin_;
    std::unique_ptr<ApplicationSettings> settingsWindow_;
    QPointer<QMessageBox> about_;
    Lifetime lifetime_;
};

}  // namespace kestrune
