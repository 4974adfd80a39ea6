#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/phone/controller/ConnectionWindows.hpp"
#include "Kestrune/phone/controller/LocalAddress.hpp"
#include "Kestrune/phone/controller/PairingApproval.hpp"
#include "Kestrune/phone/controller/PairingWindowSession.hpp"
#include "Kestrune/phone/controller/PhoneLinkServer.hpp"
#include "Kestrune/phone/controller/RemoteInputLifecycle.hpp"
#include "Kestrune/phone/controller/SendToPhone.hpp"
#include "Kestrune/phone/controller/SendToPhoneServicePolicy.hpp"
#include "Kestrune/phone/images/OutgoingClipboard.hpp"
#include "Kestrune/phone/images/ReceivedImageDelivery.hpp"
#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "Kestrune/phone/typing/RemoteCommandExecutor.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Observers.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class Outbox;
class PairedDeviceStore;
class UserDefaults;

// The owner of Phone Connection on this computer: turns the phone-link server on and off (at the
// user's word, at launch, for an item to send, after an idle time) and is the server's owner,
// passing pairing requests to `PairingApproval`, commands to the executor, pictures to
// `ReceivedImageDelivery` and acknowledgements to `SendToPhone`. Lives on the main thread for the
// whole run; every platform service comes in through `Dependencies`. The server reaches it on the
// main queue and holds it weakly: once it is gone, an approval is refused and a command or
// picture answered `internal`.
class RemoteInputController {
  public:
    using State = RemoteInputLifecycle::State;

    // Settings keys read or written here.
    static constexpr std::string_view kEnabledKey = "remoteInputEnabled";
    static constexpr std::string_view kPortKey = "remoteInputPort";
    static constexpr std::string_view kIdleTimeoutEnabledKey = "remoteInputIdleTimeoutEnabled";

    // Longest status-menu note, in characters.
    static constexpr std::size_t kMaxNoteCharacters = 60;

    struct Dependencies {
        MainQueue& main;
        std::shared_ptr<UserDefaults> defaults;
        // The data folder: the TLS identity, "devices.json" and the "outbox" folder live here.
        std::filesystem::path directory;
        MakePhoneLinkServer makeServer;

        // Whether typing into other applications works in this session (on X11: XTest and
        // XInput 2). There is nothing to request on Linux; the alert says what to do instead.
        std::function<bool()> isAccessibilityTrusted;
        std::function<void(const std::string& title, const std::string& message)> presentAlert;
        ShowApproval showApproval;
        MakePairingWindow makePairingWindow;
        std::function<std::vector<LocalAddress::Interface>()> currentInterfaces;
        std::function<std::optional<std::string>()> primaryInterface;
        // The computer's name as the user knows it; may be absent.
        std::function<std::optional<std::string>()> computerName;
        // Calls back on every change of the interface language, on the main thread.
        std::function<Subscription(std::function<void()>)> observeLanguageChange;

        // What phones' commands do here, and the typing they queue: owned by the composition root,
        // shared with nothing else that cancels them, and outliving the controller.
        RemoteCommandExecutor& executor;
        DirectTextInjector& injector;
        SerialPasteQueue& pasteQueue;

        // Reads the clipboard; the reader arrives on the main thread.
        std::function<void(std::function<void(std::unique_ptr<ClipboardReader>)>)> readClipboard;
        // Runs work on another thread; the work posts its result to `main` itself.
        std::function<void(std::function<void()>)> background;

        // Received pictures: the file manager question, the clipboard write, where work runs.
        // The controller fills in the save preferences and the alert.
        ReceivedImageDelivery::Services images;

        // The application listens on the local network; tests keep the listener on loopback.
        bool loopbackOnly = false;
        // Hears of the stored files (paired devices, outbox) that could not be read.
        StoreProblemReport reportStoreProblem;
    };

    explicit RemoteInputController(Dependencies dependencies);
    // Stops the server and takes prompts and the pairing window off the screen without answering;
    // work still in flight finds the controller gone.
    ~RemoteInputController();
    RemoteInputController(const RemoteInputController&) = delete;
    RemoteInputController& operator=(const RemoteInputController&) = delete;

    // ----- the user's control (status menu, settings, start-up), main thread -----
    void restoreIfEnabled();
    void toggleFromMenu();
    void turnOn(bool thenPair);
    void turnOff(bool recordIntent);
    void showPairingWindow();
    // `stored` hears once the content is in the outbox, or why it is not.
    void sendClipboardToPhone(std::function<void(Result<void, std::string>)> stored = {});
    void clearOutbox();
    // Cancels every text, key and picture from phones that has not been carried out yet.
    void cancelPendingText();
    // A phone removed in the settings: forgotten, its pending work cancelled, its items dropped.
    // The failure's text when the devices file could not be written.
    [[nodiscard]] Result<void, std::string> removeDevice(const Uuid& id);

    // The idle option changed in the settings: a running server follows it at once.
    void idleTimeoutChanged();

    // ----- what the menu and the settings show -----
    const State& state() const { return lifecycle_.state; }
    bool openedForSending() const { return servicePolicy_.openedForSending; }
    const std::optional<std::string>& lastFailure() const { return lastFailure_; }
    std::size_t waitingCount() const;
    const std::shared_ptr<PairedDeviceStore>& devices() const { return devices_; }
    const std::shared_ptr<Outbox>& outbox() const { return outbox_; }

    // Each observer runs on the main queue. The status: after every change of the state, the
    // menu note or the sending mode.
    Subscription observeStatus(std::function<void(const State&)> observer);
    // Each line telling the user how a Send to Phone went.
    Subscription observeSendFeedback(std::function<void(const std::string&)> observer);
    // The paired phones changed (one paired, connected or removed).
    Subscription observeDevices(std::function<void()> observer);

    // The menu item's title for the connection.
    static std::string toggleTitle(const State& state, bool openedForSending,
                                   const std::optional<std::string>& lastFailure);
    // The menu item's title for items waiting in the outbox.
    static std::string waitingTitle(std::size_t count, bool serviceOff);
    // The first non-empty line, cut to kMaxNoteCharacters characters with "…".
    static std::string shortened(const std::string& note);

    // The server's configuration for an identity, from the settings; every limit is the server's
    // own.
    static RemoteInputServer::Configuration serverConfiguration(TLSIdentity identity,
                                                                std::string fingerprint,
                                                                const UserDefaults& defaults,
                                                                bool loopbackOnly);

  private:
    class ServerOwner;

    void notifyStatus();
    void announceNewIdentity();
    void perform(const RemoteInputLifecycle::Actions& actions);
    void performPolicy(const SendToPhoneServicePolicy::Actions& actions);
    bool enabled() const;
    void startServer();
    // `done` runs on the main queue while the controller exists.
    void makeServerIfNeeded(std::function<void(Result<void, std::string> made)> done);
    void serverStarted(const RemoteInputServer::StartResult& result);
    std::optional<std::pair<std::string, std::string>> notePortChange(std::uint16_t port);
    void serverStopped(const RemoteInputServer::StopReason& reason);
    void itemQueued();
    void outboxDidChange();
    void outboxChanged();

    Dependencies deps_;
    std::shared_ptr<PairedDeviceStore> devices_;
    std::shared_ptr<Outbox> outbox_;
    RemoteInputLifecycle lifecycle_;
    SendToPhoneServicePolicy servicePolicy_;
    std::optional<std::string> lastFailure_;
    Observers<State> statusObservers_;
    Observers<> deviceObservers_;
    std::unique_ptr<ReceivedImageDelivery> imageDelivery_;
    PairingWindowSession pairingWindow_;
    PairingApproval approval_;
    SendToPhone sending_;
    // Made on the first start and kept; the session above asks it for pairing codes.
    std::unique_ptr<PhoneLinkServer> server_;
    std::optional<std::string> fingerprint_;
    // The only strong reference to what the server holds weakly.
    std::shared_ptr<ServerOwner> serverOwner_;
    Lifetime lifetime_;
};

}  // namespace kestrune
