#pragma once

#include <functional>
#include <memory>

#include "Kestrune/dictation/speech/PermissionCoordinator.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/phone/images/FileManagerFolder.hpp"
#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "Kestrune/phone/typing/PasswordFieldDetector.hpp"
#include "Kestrune/phone/typing/RemoteCommandExecutor.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

class HttpClient;
class LLMKeyStore;
class LLMRefiner;
class Pasteboard;
class SettingsStore;
class SpeechEngineSelector;
class SpeechRecognizerService;
class TextInjector;
class TriggerKeySource;
class UserDefaults;

namespace app {

// The one place that makes the Linux implementation of every service the core asks for (X11
// typing, the trigger key and the clipboard, AT-SPI, the Secret Service, libcurl, the file
// manager over D-Bus), each once, and hands the core only its own interfaces. The application
// owns one for its whole life, on its main queue; the phone link (PhoneLink) is made beside it.
//
// Threads: everything here is made, used and destroyed on `main`, except where a member says
// otherwise. Direct typing runs on its own serial queue ("Kestrune.DirectTextInjector"), the
// password-field question on another ("Kestrune.PasswordFieldDetector"), the file-manager
// question on the asker's own queue.
class Services {
  public:
    explicit Services(MainQueue& main);
    // Stops the typing and question queues first: their work uses the objects below.
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    // Settings: the standard settings database and the Secret Service key store. The one-time
    // import from the earlier edition (LegacyMigration) has run when the constructor returns.
    const std::shared_ptr<UserDefaults>& defaults() const;
    const std::shared_ptr<LLMKeyStore>& keyStore() const;
    SettingsStore& settings();

    // Refinement of transcripts over HTTP (libcurl); completions on `main`.
    const std::shared_ptr<HttpClient>& http() const;
    LLMRefiner& refiner();

    // The push-to-talk key, watched system-wide (XInput 2); events on `main`.
    TriggerKeySource& triggerKeys();

    // Typing: by paste through the clipboard (main queue), directly through XTest (its queue).
    Pasteboard& clipboard();
    TextInjector& pasteInjector();
    SerialPasteQueue& pasteQueue();
    DirectTextInjector& directTyping();
    PasswordFieldDetector& passwordFields();
    // What phones' commands do on this computer; called on the server's queue.
    RemoteCommandExecutor& commandExecutor();

    // Speech: recordings from PulseAudio's default source, recognized by the engine the setting
    // "speechEngine" picks for the language (pocketsphinx for English, the online transcription
    // service with its key from the Secret Service); the two questions before the first recording.
    SpeechEngineSelector& speechEngines();
    SpeechRecognizerService& speech();
    PermissionCoordinator::Dependencies speechPermissions();

    // Whether this session lets us watch keys and type: a display with XTest and XInput 2.
    std::function<bool()> accessibilityCheck() const;

    // Which folder the file manager's front window shows (a blocking question; thread-safe).
    FileManagerFolder::SerialAsker& fileManager();

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace app
}  // namespace kestrune
