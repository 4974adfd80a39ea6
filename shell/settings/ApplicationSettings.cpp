#include "shell/settings/ApplicationSettings.hpp"

#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "app/Services.hpp"
#include "shell/settings/SettingsWiring.hpp"

namespace kestrune {

ApplicationSettings::ApplicationSettings(app::Services& services, RemoteInputController& phone,
                                         MainQueue& main, Callbacks callbacks)
    : phoneModel_(std::make_unique<PhoneSettingsModel>(
          services.defaults(), settings_wiring::phoneOperations(phone, &services.fileManager()))) {
    followingDevices_ = settings_wiring::followDevices(phone, *phoneModel_);
    window_ = std::make_unique<SettingsWindowController>(SettingsWindowController::Dependencies{
        .settings = services.settings(),
        .defaults = services.defaults(),
        .phone = *phoneModel_,
        .launchAtLogin = std::move(callbacks.launchAtLogin),
        .testRefinement = settings_wiring::refinementTest(services.refiner()),
        .testTranscription =
            settings_wiring::transcriptionTest(services.http(), main, services.settings()),
        .onTriggerKeyChange = std::move(callbacks.onTriggerKeyChange),
        .onShowWelcome = std::move(callbacks.onShowWelcome),
        .onHotKeyRecording = std::move(callbacks.onHotKeyRecording),
        .reduceMotion = {},
        .folderDisplayName = settings_wiring::folderDisplayName,
        .availableScreenHeight = {},
    });
}

ApplicationSettings::~ApplicationSettings() {
    window_.reset();
    followingDevices_.reset();
}

}  // namespace kestrune
