#pragma once

#include <functional>
#include <memory>

#include "Kestrune/dictation/speech/PermissionCoordinator.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

class AppCoordinator;
class LLMRefiner;
class RecordingPanel;
class SerialPasteQueue;
class SettingsStore;
class SpeechRecognizerService;
class TriggerKeySource;

namespace app {

// Dictation as the application runs it: the coordinator with the settings, the trigger key
// source, the speech service, the refiner and typing by paste of the platform, and the X11
// accessibility check. The Qt layer gives the panel. Everything in `Platform`, `main` and `panel`
// outlives it; everything runs on `main`.
class Dictation {
  public:
    // The platform services it is made with (Services::dictationPlatform()).
    struct Platform {
        SettingsStore& settings;
        TriggerKeySource& triggerKeys;
        SpeechRecognizerService& speech;
        PermissionCoordinator::Dependencies permissions;
        const LLMRefiner& refiner;
        SerialPasteQueue& pasteQueue;
        std::function<bool()> isAccessibilityTrusted;
    };

    Dictation(Platform platform, MainQueue& main, RecordingPanel& panel);
    ~Dictation();
    Dictation(const Dictation&) = delete;
    Dictation& operator=(const Dictation&) = delete;

    AppCoordinator& coordinator() { return *coordinator_; }

  private:
    std::unique_ptr<AppCoordinator> coordinator_;
};

}  // namespace app
}  // namespace kestrune
