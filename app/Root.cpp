#include "app/Root.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/defaults/XdgDirectories.hpp"

namespace kestrune::app {

namespace {

PhoneConnection::Options withStoreProblems(PhoneConnection::Options options,
                                           StoreProblemReport report) {
    options.reportStoreProblem = std::move(report);
    return options;
}

}  // namespace

Root::Root(MainQueue& main, Options options, Desktop desktop)
    : storeProblems_(main),
      services_(main, openSettings(options.settingsFolder, storeProblems_.reporter())),
      phone_(std::make_unique<PhoneConnection>(
          services_.phoneConnectionPlatform(), main, std::move(desktop.phoneWindows),
          withStoreProblems(std::move(options.phone), storeProblems_.reporter()))),
      dictation_(std::make_unique<Dictation>(services_.dictationPlatform(), main, desktop.panel)) {}

Root::~Root() {
    dictation_.reset();
    phone_.reset();
}

std::shared_ptr<UserDefaults> Root::openSettings(const std::filesystem::path& folder,
                                                 StoreProblemReport reportProblem) {
    return std::make_shared<UserDefaults>(folder.empty() ? xdgConfigHome() : folder,
                                          std::string(UserDefaults::kStandardDomain),
                                          std::move(reportProblem));
}

}  // namespace kestrune::app
