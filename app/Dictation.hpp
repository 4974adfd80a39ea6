#pragma once

#include <memory>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

class AppCoordinator;
class RecordingPanel;

namespace app {

class Services;

// Dictation as the application runs it: the coordinator with the settings, the trigger key
// source, the speech service, the refiner and typing by paste of `services`, and the X11
// accessibility check. The Qt layer gives the panel. `services`, `main` and `panel` outlive it;
// everything runs on `main`.
class Dictation {
  public:
    Dictation(Services& services, MainQueue& main, RecordingPanel& panel);
    ~Dictation();
    Dictation(const Dictation&) = delete;
    Dictation& operator=(const Dictation&) = delete;

    AppCoordinator& coordinator() { return *coordinator_; }

  private:
    std::unique_ptr<AppCoordinator> coordinator_;
};

}  // namespace app
}  // namespace kestrune
