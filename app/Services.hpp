#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "Kestrune/phone/images/FileManagerFolder.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "app/Dictation.hpp"
#include "app/PhoneConnection.hpp"

namespace kestrune {

class HttpClient;
class LLMRefiner;
class SettingsStore;
class UserDefaults;

namespace app {

// What the Qt side's tray and windows use of the platform services: the settings, the refiner and
// the HTTP client of the settings window's connection tests, the file manager's question, whether
// typing and key watching work in this session, and what keeps dictation in a language from
// working (none when a recognizer serves it; the welcome window says it before a first try).
struct ShellPlatform {
    SettingsStore& settings;
    const LLMRefiner& refiner;
    std::shared_ptr<HttpClient> http;
    FileManagerFolder::SerialAsker& fileManager;
    std::function<bool()> isAccessibilityTrusted;
    std::function<std::optional<std::string>(AppLanguage)> speechHint;
    // Where the compositor, not Murrelo, watches the trigger key (Wayland): the lines its
    // configuration needs for the stored keys, or the sentence saying why there are none. Empty
    // where Murrelo watches the key itself (X11).
    std::function<std::string(const TriggerKey&, const std::optional<GlobalHotKey>&)>
        compositorBindings;
};

// Makes the Linux implementation of every service the core asks for (X11 typing, the trigger key
// and the clipboard, AT-SPI, the Secret Service, libcurl, PulseAudio with pocketsphinx, the file
// manager over D-Bus), each once, and hands each consumer only the core's interfaces it uses. The
// composition root (Root) owns one for the application's whole life, on its main queue, and gives
// it the settings database it chose.
//
// Threads: everything here is made, used and destroyed on `main`, except where a member says
// otherwise. Direct typing runs on its own serial queue ("Kestrune.DirectTextInjector"), the
// password-field question on another ("Kestrune.PasswordFieldDetector"), the file-manager
// question on the asker's own queue.
class Services {
  public:
    // The one-time import from the earlier edition (LegacyMigration) into `defaults` has run when
    // the constructor returns.
    Services(MainQueue& main, std::shared_ptr<UserDefaults> defaults);
    // Stops the typing and question queues first: their work uses the objects below.
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    // Phone Connection: the settings database, what phones' commands do here (called on the
    // server's queue), direct typing through XTest, the paste queue, the X11 clipboard and the
    // file manager's front window.
    PhoneConnection::Platform phoneConnectionPlatform();
    // Dictation: the settings store (the Secret Service keeps its keys), the push-to-talk key
    // watched system-wide (XInput 2), recordings from PulseAudio's default source recognized by
    // the engine the setting "speechEngine" picks, the two questions before the first recording,
    // refinement over libcurl and typing by paste; every completion on `main`.
    Dictation::Platform dictationPlatform();
    ShellPlatform shellPlatform();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace app
}  // namespace kestrune
