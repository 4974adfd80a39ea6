#include "shell/settings/ApplicationSettings.hpp"

#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "shell/settings/SettingsWiring.hpp"

namespace kestrune {

ApplicationSettings::ApplicationSettings(Dependencies dependencies, Callbacks callbacks)
    : phoneModel_(std::make_unique<PhoneSettingsModel>(
          dependencies.settings.defaults(),
          settings_wiring::phoneOperations(dependencies.phone, dependencies.desktop))) {
    followingDevices_ = settings_wiring::followDevices(dependencies.phone, *phoneModel_);
    window_ = std::make_unique<SettingsWindowController>(SettingsWindowController::Dependencies{
        .settings = dependencies.settings,
        .defaults = dependencies.settings.defaults(),
        .phone = *phoneModel_,
        .launchAtLogin = std::move(callbacks.launchAtLogin),
        .testRefinement = settings_wiring::refinementTest(dependencies.refiner),
        .testTranscription = settings_wiring::transcriptionTest(
            dependencies.http, dependencies.main, dependencies.settings),
        .onTriggerKeyChange = std::move(callbacks.onTriggerKeyChange),
        .onShowWelcome = std::move(callbacks.onShowWelcome),
        .onHotKeyRecording = std::move(callbacks.onHotKeyRecording),
        .reduceMotion = [&desktop = dependencies.desktop] { return desktop.reducesMotion(); },
        .folderDisplayName = settings_wiring::folderDisplayName,
        .availableScreenHeight = {},
        .compositorBindings = dependencies.compositorBindings,
    });
}

ApplicationSettings::~ApplicationSettings() {
    window_.reset();
    followingDevices_.reset();
}

}  // namespace kestrune
