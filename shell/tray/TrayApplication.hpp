#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "app/PhoneConnection.hpp"
#include "shell/tray/ControlService.hpp"

class QMenu;
class QSystemTrayIcon;

namespace kestrune {

class AppCoordinator;
class RemoteInputController;
class SettingsStore;

// The tray application: owns the settings, Phone Connection, dictation with its recording panel,
// the Send-to-Phone shortcut and the
// status icon with its menu for the whole run, wires them together at launch and settles them at
// quit. Every callback it hands out holds it weakly and does nothing once it is gone.
// GUI thread only; `main` is the Qt event loop's queue.
class TrayApplication {
  public:
    struct Options {
        // Tests keep the server on loopback and unannounced; the application uses the defaults.
        app::PhoneConnection::Options phone;
    };

    static constexpr std::string_view kDisplayName = "Murrelo";

    TrayApplication(MainQueue& main, Options options);
    ~TrayApplication();
    TrayApplication(const TrayApplication&) = delete;
    TrayApplication& operator=(const TrayApplication&) = delete;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // A short text beside the status icon: its tool tip and a desktop notification, for 4 s.
    void flash(const std::string& text);
    void registerSendHotKey(const std::optional<GlobalHotKey>& hotKey);
    // While the settings window records a shortcut, the current one is let go.
    void setHotKeyRecording(bool recording);
    // Stores, applies and announces a new interface language (the settings window's choice).
    void selectInterfaceLanguage(InterfaceLanguage language);
    void showAbout();

    // What the control interface on the session bus does.
    ControlHandlers controlHandlers();

    // For tests: the parts on screen and the state they show.
    QSystemTrayIcon* statusItem() const;
    QMenu* statusMenu() const;
    RemoteInputController& phoneConnection();
    SettingsStore& settings();
    AppCoordinator& dictation();

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune
