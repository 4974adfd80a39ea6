#pragma once

#include <optional>

#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class RemoteInputController;
class SettingsStore;
class TrayIcon;

// The Send-to-Phone shortcut: sends the clipboard to the paired phones from anywhere. Registered
// from the setting at launch and again after each change (the menu then shows the new one), let
// go while the settings window records another; a shortcut that cannot be had is said beside the
// icon. GUI thread only; every dependency outlives it.
class SendShortcut {
  public:
    struct Dependencies {
        MainQueue& main;
        SettingsStore& settings;
        SystemHotKeyService& service;
        RemoteInputController& phone;
        TrayIcon& icon;
    };

    explicit SendShortcut(Dependencies dependencies);
    SendShortcut(const SendShortcut&) = delete;
    SendShortcut& operator=(const SendShortcut&) = delete;

    // Registers the stored shortcut and follows the setting from now on.
    void start();
    // While the settings window records a shortcut, the current one is let go.
    void setRecording(bool recording);

  private:
    void registerHotKey(const std::optional<GlobalHotKey>& hotKey);

    Dependencies deps_;
    GlobalHotKeyCenter center_;
    Subscription subscription_;
    Lifetime lifetime_;
};

}  // namespace kestrune
