#pragma once

#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

// The pairing approval on screen. Main thread.
class ApprovalPrompt {
  public:
    // Destroying the handle takes the prompt off the screen without answering.
    virtual ~ApprovalPrompt() = default;
    // Takes the prompt off the screen; it answers "not allowed".
    virtual void dismiss() = 0;
};

struct ApprovalQuestion {
    std::string title;
    std::string message;
    std::string allowTitle;
    std::string denyTitle;
};

// Shows an approval prompt that never blocks the main loop. `answer` runs at most once, on the
// main thread: true only when the user pressed the allow button.
using ShowApproval = std::function<std::unique_ptr<ApprovalPrompt>(
    ApprovalQuestion question, std::function<void(bool allowed)> answer)>;

// The window showing the pairing code. Main thread.
class PairingWindow {
  public:
    virtual ~PairingWindow() = default;
    // Shows the window (centred, in front, with the keyboard focus) with the address text; the
    // code appears with the first link.
    virtual void present(const std::string& address) = 0;
    // Draws the link as the code; a link that cannot be drawn leaves the code as it was.
    virtual void showLink(const std::string& link) = 0;
    virtual void close() = 0;
    virtual bool isVisible() const = 0;
    // `observer` runs each time the user (or close()) closes the window, for as long as the
    // subscription is kept.
    virtual Subscription observeClose(std::function<void()> observer) = 0;
};

using MakePairingWindow = std::function<std::unique_ptr<PairingWindow>()>;

}  // namespace kestrune
