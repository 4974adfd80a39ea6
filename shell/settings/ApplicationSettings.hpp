#pragma once

#include <functional>
#include <memory>

#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/SettingsWindowController.hpp"

namespace kestrune {

class PhoneSettingsModel;
class RemoteInputController;
namespace app {
class Services;
}

// The settings window as the application makes it: over its services (settings store, refiner,
// HTTP client, file manager) and Phone Connection, with the phone model following the paired
// phones. What only the application knows comes in as `Callbacks`. Made on first use and kept;
// `services`, `phone` and `main` outlive it. GUI thread only.
class ApplicationSettings {
  public:
    struct Callbacks {
        // The dictation coordinator's `updateTriggerKey`.
        std::function<void(TriggerKey)> onTriggerKeyChange;
        std::function<void()> onShowWelcome;
        // Suspends the live Send-to-Phone shortcut while true.
        std::function<void(bool)> onHotKeyRecording;
        SettingsWindowController::LaunchAtLogin launchAtLogin;
    };

    ApplicationSettings(app::Services& services, RemoteInputController& phone, MainQueue& main,
                        Callbacks callbacks);
    // Stops following the paired phones before the model goes.
    ~ApplicationSettings();
    ApplicationSettings(const ApplicationSettings&) = delete;
    ApplicationSettings& operator=(const ApplicationSettings&) = delete;

    SettingsWindowController& window() { return *window_; }
    PhoneSettingsModel& phoneModel() { return *phoneModel_; }

  private:
    std::unique_ptr<PhoneSettingsModel> phoneModel_;
    Subscription followingDevices_;
    std::unique_ptr<SettingsWindowController> window_;
};

}  // namespace kestrune
