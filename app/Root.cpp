#include "app/Root.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/defaults/XdgDirectories.hpp"

namespace kestrune::app {

Root::Root(MainQueue& main, Options options, Desktop desktop)
    : services_(main, openSettings(options.settingsFolder)),
      phone_(std::make_unique<PhoneConnection>(services_.phoneConnectionPlatform(), main,
                                               std::move(desktop.phoneWindows),
                                               std::move(options.phone))),
      dictation_(std::make_unique<Dictation>(services_.dictationPlatform(), main, desktop.panel)) {}

Root::~Root() {
    dictation_.reset();
    phone_.reset();
}

std::shared_ptr<UserDefaults> Root::openSettings(const std::filesystem::path& folder) {
    return std::make_shared<UserDefaults>(folder.empty() ? xdgConfigHome() : folder,
                                          std::string(UserDefaults::kStandardDomain));
}

}  // namespace kestrune::app
