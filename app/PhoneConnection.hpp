#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/phone/controller/ConnectionWindows.hpp"
#include "Kestrune/phone/controller/LocalAddress.hpp"
#include "Kestrune/phone/images/FileManagerFolder.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class DirectTextInjector;
class Pasteboard;
class RemoteCommandExecutor;
class RemoteInputController;
class SerialPasteQueue;
class SerialQueue;
class UserDefaults;

namespace app {

// What only the Qt layer can give Phone Connection: its alerts, the approval prompt, the pairing
// window, the interface-language signal and the computer's name (asked over D-Bus).
struct PhoneConnectionWindows {
    std::function<void(const std::string& title, const std::string& message)> presentAlert;
    ShowApproval showApproval;
    MakePairingWindow makePairingWindow;
    std::function<Subscription(std::function<void()>)> observeLanguageChange;
    std::function<std::optional<std::string>()> computerName;
};

// Phone Connection as the application runs it: the controller on the main queue, with the typing,
// clipboard and file-manager services of the platform, the server made on the first start
// (announced through Avahi), and its files in $XDG_DATA_HOME/Murrelo/Remote. Everything in
// `Platform` and `main` outlives it.
class PhoneConnection {
  public:
    // The platform services it is made with (Services::phoneConnectionPlatform()).
    struct Platform {
        std::shared_ptr<UserDefaults> defaults;
        RemoteCommandExecutor& commandExecutor;
        DirectTextInjector& directTyping;
        SerialPasteQueue& pasteQueue;
        Pasteboard& clipboard;
        FileManagerFolder::SerialAsker& fileManager;
        std::function<bool()> isAccessibilityTrusted;
    };

    struct Options {
        std::filesystem::path directory;  // empty: the application's data folder
        // Announce the service on the local network (never in tests).
        bool advertise = true;
        // Tests keep the listener on loopback; the pairing code then needs a stand-in address,
        // which they give with `interfaces`.
        bool loopbackOnly = false;
        std::function<std::vector<LocalAddress::Interface>()> interfaces;
        std::function<std::optional<std::string>()> primaryInterface;
        // Where the paired devices and the outbox report files they could not read.
        StoreProblemReport reportStoreProblem;
    };

    PhoneConnection(Platform platform, MainQueue& main, PhoneConnectionWindows windows,
                    Options options);
    // The controller goes first; then the queue its picture preparation ran on.
    ~PhoneConnection();
    PhoneConnection(const PhoneConnection&) = delete;
    PhoneConnection& operator=(const PhoneConnection&) = delete;

    RemoteInputController& controller() { return *controller_; }

  private:
    std::unique_ptr<SerialQueue> background_;
    std::unique_ptr<RemoteInputController> controller_;
};

}  // namespace app
}  // namespace kestrune
