#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "Kestrune/phone/controller/ConnectionWindows.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {

// Asks the user whether a phone may pair, one question on screen at a time: a newer request
// replaces the question on screen (refusing the older one), and a request whose phone left takes
// its question away. Main queue.
class PairingApproval {
  public:
    struct Dependencies {
        MainQueue& main;
        ShowApproval showApproval;
        // The user allowed a phone: the code on screen has done its job.
        std::function<void()> onAllowed;
    };

    explicit PairingApproval(Dependencies dependencies);
    // Takes a question off the screen without answering it.
    ~PairingApproval();
    PairingApproval(const PairingApproval&) = delete;
    PairingApproval& operator=(const PairingApproval&) = delete;

    // `reply` gets the user's answer, once.
    void ask(RemoteInputServer::PairingRequest request, std::function<void(bool)> reply);
    void withdraw(const Uuid& request);
    // Refuses the question on screen and takes it away.
    void dismiss();

  private:
    void answered(const Uuid& request, bool allowed);

    Dependencies deps_;
    std::unique_ptr<ApprovalPrompt> prompt_;
    std::optional<Uuid> request_;
    Lifetime lifetime_;
};

}  // namespace kestrune
