#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
// or the windows as the status menu would, and the answers wait until what they say is true: a
// start has its outcome, a stop has stopped, a clipboard item is stored. Each wait is bounded, and
// an answer whose bound ran out says so. Made, used and destroyed on `main`; every reply runs
// there.
class ControlAnswers {
  public:
    // A pairing link asked for over the control interface: the server's first start makes its
    // certificate, which takes seconds on a busy machine; past this the caller hears it failed.
    static constexpr std::chrono::seconds kPairingLinkWait{90};
    // A stopping server closes its connections with a grace of its own (2 s); past this the
    // caller hears the state as it is.
    static constexpr std::chrono::seconds kStopWait{10};
    // A start makes the certificate the first time, like the pairing link's wait.
    static constexpr std::chrono::seconds kStartWait = kPairingLinkWait;
    // Reading the clipboard and preparing a large picture for the phone take seconds at most.
    static constexpr std::chrono::seconds kStoreWait{30};

    struct Failure {
        std::string message;
    };
    using LinkReply = std::function<void(Result<std::string, Failure>)>;
    // The state reached; a failure when Phone Connection was asked on and did not come on (with
    // the alert that said why), or when the wait ran out.
    using StateReply = std::function<void(Result<bool, Failure>)>;
    using StoredReply = std::function<void(Result<void, Failure>)>;

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

    // Answers once the clipboard's content is stored in the outbox, or with why it was not.
    void sendClipboardToPhone(StoredReply reply);
    // True while Phone Connection is on, or starting and not told to stop once up.
    bool phoneConnection() const;
    // Both work as the menu's switch and answer with the state they lead to: "on" once the server
    // is up (at most kStartWait), "off" once a stopping server has stopped (at most kStopWait).
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
    // A caller waiting for a switch to settle or an item to be stored; `token` names it to its
    // expiry.
    struct Settling {
        StateReply reply;
        TaskId expiry;
        bool wantedOn;
        std::uint64_t token;
    };
    struct Storing {
        StoredReply reply;
        TaskId expiry;
        std::uint64_t token;
    };

    void answerOnceSettled(bool wantedOn, StateReply reply);
    bool settled(bool wantedOn) const;
    void answer(Settling& waiting);
    void answerSettledReplies();
    void expireSettling(std::uint64_t token);
    void answerPairingReplies(const std::string& link);
    void failPairingReplies(const std::string& why);
    void answerStored(std::uint64_t token, Result<void, Failure> outcome);
    bool stopAsked() const;

    Dependencies deps_;
    std::vector<Waiting<LinkReply>> pairingReplies_;
    std::vector<Settling> settleReplies_;
    std::vector<Storing> storeReplies_;
    std::uint64_t nextToken_ = 1;
    // The alert shown since the last switch: why a start failed.
    std::optional<std::string> lastAlert_;
    Subscription links_;
    Subscription alerts_;
    Lifetime lifetime_;
};

}  // namespace tray
}  // namespace kestrune
