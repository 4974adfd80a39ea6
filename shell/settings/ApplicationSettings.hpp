#pragma once

#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/SettingsWindowController.hpp"

namespace kestrune {

class HttpClient;
class LLMRefiner;
class PhoneSettingsModel;
class RemoteInputController;
class SettingsStore;

// What the desktop does for the settings window; the Qt-side root gives it. GUI thread only.
class SettingsDesktop {
  public:
    virtual ~SettingsDesktop() = default;
    // A non-modal question with "Remove" and "Cancel": true only for "Remove".
    virtual void confirmRemoval(const std::string& title, const std::string& message,
                                std::function<void(bool)> completion) = 0;
    virtual void alert(const std::string& title, const std::string& message) = 0;
    // Asks the file manager once in the background, so that its question to the user comes
    // early; the answer is not needed.
    virtual void primeFileManagerAccess() = 0;
    // Whether the desktop asks for size changes to happen at once.
    virtual bool reducesMotion() const = 0;
};

// The settings window as the application makes it: over the settings store, the refiner and HTTP
// client of its connection tests and Phone Connection, with the phone model following the paired
// phones. What only the application knows comes in as `Callbacks`. Made on first use and kept;
// every dependency outlives it. GUI thread only.
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

    struct Dependencies {
        MainQueue& main;
        SettingsStore& settings;
        RemoteInputController& phone;
        const LLMRefiner& refiner;
        std::shared_ptr<HttpClient> http;
        SettingsDesktop& desktop;
        // See SettingsWindowController::Dependencies.
        std::function<std::string(const TriggerKey&, const std::optional<GlobalHotKey>&)>
            compositorBindings;
    };

    ApplicationSettings(Dependencies dependencies, Callbacks callbacks);
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
