#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class AppCoordinator;
class RemoteInputController;
class UserDefaults;

namespace tray {

class ApplicationWindows;
class PhoneWindowReports;

// What the running application answers to its control interface (the session bus and
// `murrelo ctl`), whatever carries the request: each request acts on Phone Connection, dictation
// or the windows as the status menu would, and the answers about Phone Connection wait until what
// they say is true. Made, used and destroyed on `main`; every reply runs there.
class ControlAnswers {
  public:
    // A pairing link asked for over the control interface: the server's first start makes its
    // certificate, which takes seconds on a busy machine; past this the caller hears it failed.
    static constexpr std::chrono::seconds kPairingLinkWait{90};
    // A stopping server closes its connections with a grace of its own (2 s); past this the
    // caller hears the state as it is.
    static constexpr std::chrono::seconds kStopWait{10};

    struct LinkFailure {
        std::string message;
    };
    using LinkReply = std::function<void(Result<std::string, LinkFailure>)>;
    using StateReply = std::function<void(bool on)>;

    struct Dependencies {
        MainQueue& main;
        RemoteInputController& phone;
        // Where Phone Connection keeps the user's intent: off while the server still runs means
        // a stop is under way.
        std::shared_ptr<const UserDefaults> defaults;
        // The pairing window's link and the alerts that come instead of it.
        PhoneWindowReports& phoneWindows;
        AppCoordinator& dictation;
        ApplicationWindows& windows;
    };

    explicit ControlAnswers(Dependencies dependencies);
    // Nobody waits on an answer that will not come: a pairing request hears that Murrelo quit, a
    // state request the state as it is.
    ~ControlAnswers();
    ControlAnswers(const ControlAnswers&) = delete;
    ControlAnswers& operator=(const ControlAnswers&) = delete;

    void sendClipboardToPhone();
    // True while Phone Connection is on, or starting and not told to stop once up.
    bool phoneConnection() const;
    // Both work as the menu's switch and answer with the state they lead to; a stopping server
    // is still on, so "off" waits until it has stopped (at most kStopWait). Starting counts as on
    // at once.
    void setPhoneConnection(bool on, StateReply reply);
    void togglePhoneConnection(StateReply reply);
    // Shows the pairing window, turning Phone Connection on first when it is off; answers with
    // the link once its code is on screen, or with the alert that came instead.
    void showPairing(LinkReply reply);
    // Push-to-talk from a key binding: the trigger key's press and release without a key.
    void dictationPress();
    void dictationRelease();
    void toggleDictation();
    void openSettings();
    void showWelcome();
    void quit();

    // Phone Connection's state changed: an "off" that waited for the server to stop is answered.
    void phoneConnectionChanged();

  private:
    template <typename Reply>
    struct Waiting {
        Reply reply;
        TaskId expiry;
    };

    void answerOnceSettled(StateReply reply);
    void answerSettledReplies(bool timedOut);
    void answerPairingReplies(const std::string& link);
    void failPairingReplies(const std::string& why);
    bool stopAsked() const;

    Dependencies deps_;
    std::vector<Waiting<LinkReply>> pairingReplies_;
    std::vector<Waiting<StateReply>> settleReplies_;
    Subscription links_;
    Subscription alerts_;
    Lifetime lifetime_;
};

}  // namespace tray
}  // namespace kestrune
