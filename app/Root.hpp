#pragma once

#include <filesystem>
#include <memory>

#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/StoreProblems.hpp"
#include "app/Dictation.hpp"
#include "app/PhoneConnection.hpp"
#include "app/Services.hpp"

namespace kestrune {

class AppCoordinator;
class RecordingPanel;
class RemoteInputController;
class UserDefaults;

namespace app {

// The Qt-free composition root: chooses the settings folder and opens the settings database in
// it, makes the platform services (Services), Phone Connection and dictation with them, and hands
// the Qt-side root what its tray and windows use. Made, used and destroyed on `main`, which
// outlives it; the Qt side gives the windows and the recording panel, which outlive it too.
class Root {
  public:
    struct Options {
        // Where the settings database lives; empty: $XDG_CONFIG_HOME.
        std::filesystem::path settingsFolder;
        PhoneConnection::Options phone;
    };

    // What only the Qt side can give.
    struct Desktop {
        PhoneConnectionWindows phoneWindows;
        RecordingPanel& panel;
    };

    Root(MainQueue& main, Options options, Desktop desktop);
    // Dictation and Phone Connection go before the services they use.
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;

    // The application's settings database in `folder` (empty: $XDG_CONFIG_HOME), read once; the
    // program's self-check reads the interface language from it too.
    static std::shared_ptr<UserDefaults> openSettings(const std::filesystem::path& folder,
                                                      StoreProblemReport reportProblem = {});

    RemoteInputController& phoneConnection() { return phone_->controller(); }
    AppCoordinator& dictation() { return dictation_->coordinator(); }
    ShellPlatform shellPlatform() { return services_.shellPlatform(); }
    // The stored files this run could not read or write, for the user.
    StoreProblems& storeProblems() { return storeProblems_; }

  private:
    // First: the stores made below report to it as they open.
    StoreProblems storeProblems_;
    Services services_;
    std::unique_ptr<PhoneConnection> phone_;
    std::unique_ptr<Dictation> dictation_;
};

}  // namespace app
}  // namespace kestrune
