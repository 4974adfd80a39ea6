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

    // Pings the focused application without waiting for its answer; false when it cannot be
    // asked (see noEvidence). Asking as soon as the keys are sent lets the answer travel while
    // we do other work.
    bool ask();
    // Blocks until the application has answered the latest ping, at most `limit`. An answer is
    // due only when a ping is outstanding; otherwise this returns caughtUp at once.
    Outcome waitForAnswer(std::chrono::milliseconds limit);
    // ask() then waitForAnswer().
    Outcome wait(std::chrono::milliseconds limit);

  private:
    Window pingableFocusWindow();
    void take(const XEvent& event);

    Display* display_;
    Atom wmProtocols_;
    Atom ping_;
    // Pings are numbered; an answer to one covers every earlier one too.
    long serial_ = 0;
    long answered_ = 0;
    Window lastFocus_ = None;
    Window lastTarget_ = None;
};

}  // namespace kestrune::x11
