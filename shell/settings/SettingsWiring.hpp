#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/SettingsWindowController.hpp"

namespace kestrune {

class HttpClient;
class LaunchAtLoginModel;
class LLMRefiner;
class RemoteInputController;
class SettingsDesktop;
class SettingsStore;

// How the settings window reaches the running application's parts. GUI thread only.
namespace settings_wiring {

// The phone model's operations over Phone Connection: the controller's device removal (which
// drops the phone's connection at once), the desktop's prompts and file manager question, and the
// folder chooser (folders only, new ones allowed). `controller` and `desktop` outlive them.
PhoneSettingsModel::Operations phoneOperations(RemoteInputController& controller,
                                               SettingsDesktop& desktop);
// Every change of the paired phones reloads the model's list (the controller reports on the GUI
// thread) for as long as the subscription is kept; `model` must outlive it.
[[nodiscard]] Subscription followDevices(RemoteInputController& controller,
                                         PhoneSettingsModel& model);

SettingsWindowController::TestRefinement refinementTest(const LLMRefiner& refiner);
// The transcription "Test" in the speech recognition language chosen in `settings`.
SettingsWindowController::TestTranscription transcriptionTest(std::shared_ptr<HttpClient> client,
                                                              MainQueue& main,
                                                              const SettingsStore& settings);

// The name a file manager shows for a folder: its own name, or the path for the root.
std::string folderDisplayName(const std::filesystem::path& folder);

// The launch-at-login switch over the login item's model, which outlives the window.
SettingsWindowController::LaunchAtLogin launchAtLoginControls(LaunchAtLoginModel& model);

}  // namespace settings_wiring
}  // namespace kestrune
