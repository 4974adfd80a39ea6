#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/phone/controller/ConnectionWindows.hpp"
#include "Kestrune/phone/controller/LocalAddress.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class PhoneLinkServer;

// The "Pair a Phone" window while Phone Connection is on: shows a code for this computer's local
// address, renews it while the window stays open and withdraws it when the window closes. A
// closed window is built again, in the new language, after the interface language changes. Main
// queue.
class PairingWindowSession {
  public:
    // The code is renewed well before its 60 s lifetime ends.
    static constexpr std::chrono::seconds kRefreshInterval{50};

    struct Dependencies {
        MainQueue& main;
        MakePairingWindow makeWindow;
        std::function<std::vector<LocalAddress::Interface>()> currentInterfaces;
        std::function<std::optional<std::string>()> primaryInterface;
        // The computer's name as the user knows it; may be absent.
        std::function<std::optional<std::string>()> computerName;
        // Calls back on every change of the interface language, on the main thread.
        std::function<Subscription(std::function<void()>)> observeLanguageChange;
        std::function<void(const std::string& title, const std::string& message)> presentAlert;
    };

    explicit PairingWindowSession(Dependencies dependencies);
    // Takes the window off the screen without a word to the server.
    ~PairingWindowSession();
    PairingWindowSession(const PairingWindowSession&) = delete;
    PairingWindowSession& operator=(const PairingWindowSession&) = delete;

    // Shows the window for `server`, listening on `port` with the certificate `fingerprint` pins;
    // the server gives the codes and must outlive the session. Alerts instead when this computer
    // has no local-network address to put in the code.
    void show(PhoneLinkServer& server, std::uint16_t port, const std::string& fingerprint);
    // Closes the window when it is on screen, which withdraws its code.
    void close();

  private:
    void scheduleRefresh();
    void refreshCode(bool isRefresh);
    void windowClosed();
    void observeLanguageOnce();

    Dependencies deps_;
    PhoneLinkServer* server_ = nullptr;
    std::unique_ptr<PairingWindow> window_;
    Subscription windowClose_;
    // The pairing link for a code; empty while no window is showing.
    std::function<std::string(const std::string& code)> link_;
    // Counts showings, so that a code asked for by an earlier one is not drawn.
    std::uint64_t showing_ = 0;
    TaskId refreshTask_ = 0;
    Subscription languageObserver_;
    bool observesLanguage_ = false;
    Lifetime lifetime_;
};

}  // namespace kestrune
