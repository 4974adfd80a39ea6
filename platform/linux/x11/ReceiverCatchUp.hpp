#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>

namespace kestrune::x11 {

// Evidence that the application with the keyboard focus has handled every event sent to it so
// far. The window manager's liveness check is reused: a _NET_WM_PING client message goes to the
// focused top-level window, and the application answers it from its event loop, so the answer
// comes only after it has handled (and so translated) every key event queued before the ping.
// XSync would prove only that the X server has processed our requests. Used on the typist's
// thread and connection.
class ReceiverCatchUp {
  public:
    enum class Outcome {
        caughtUp,
        // The focused window does not take part in the ping protocol (or nothing has the focus).
        noEvidence,
        // Asked, but no answer within the limit: the application is hung or far behind.
        noAnswer,
    };

    explicit ReceiverCatchUp(Display* display);

    // Blocks until the focused application has answered, at most `limit`.
    Outcome wait(std::chrono::milliseconds limit);

  private:
    Window pingableFocusWindow();
    bool answered(const XEvent& event) const;

    Display* display_;
    Atom wmProtocols_;
    Atom ping_;
    long serial_ = 0;
};

}  // namespace kestrune::x11
