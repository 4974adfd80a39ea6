#include "platform/linux/x11/ReceiverCatchUp.hpp"

#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>

#include "platform/linux/x11/X11Connection.hpp"

namespace kestrune::x11 {

ReceiverCatchUp::ReceiverCatchUp(Display* display)
    : display_(display),
      wmProtocols_(XInternAtom(display, "WM_PROTOCOLS", False)),
      ping_(XInternAtom(display, "_NET_WM_PING", False)) {}

// The focus may sit on a child of the application's top-level window: the nearest ancestor that
// advertises the ping protocol is the one its toolkit answers for. The answer is kept for as long
// as the focus stays on the same window, so that asking costs one round trip.
Window ReceiverCatchUp::pingableFocusWindow() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    if (focus == lastFocus_) return lastTarget_;
    ErrorTrap trap(display_);  // the focused window may vanish while we look at it
    Window root = DefaultRootWindow(display_);
    Window target = None;
    for (Window window = focus; window != None && window != PointerRoot && window != root;) {
        Atom* protocols = nullptr;
        int count = 0;
        if (XGetWMProtocols(display_, window, &protocols, &count) != 0) {
            bool pingable = std::find(protocols, protocols + count, ping_) != protocols + count;
            XFree(protocols);
            if (pingable) {
                target = window;
                break;
            }
        }
        Window parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(display_, window, &root, &parent, &children, &childCount) == 0) break;
        if (children != nullptr) XFree(children);
        window = parent;
    }
    lastFocus_ = focus;
    lastTarget_ = target;
    return target;
}

void ReceiverCatchUp::take(const XEvent& event) {
    if (event.type == ClientMessage && event.xclient.message_type == wmProtocols_ &&
        static_cast<Atom>(event.xclient.data.l[0]) == ping_) {
        answered_ = std::max(answered_, event.xclient.data.l[1]);
    }
}

bool ReceiverCatchUp::ask() {
    Window target = pingableFocusWindow();
    if (target == None) return false;
    // Answers go to the root window, for the clients listening to it: GTK addresses those that
    // listen to its substructure, Qt those that listen to its structure. We listen to both, and
    // only while an answer is due, so that other windows' notifications do not pile up on this
    // connection.
    if (answered_ == serial_) {
        XSelectInput(display_, DefaultRootWindow(display_),
                     SubstructureNotifyMask | StructureNotifyMask);
    }
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = target;
    ping.xclient.message_type = wmProtocols_;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(ping_);
    // The toolkit echoes the event back unchanged but for its window: the timestamp field
    // carries our serial number, so that the answer says which pings it covers.
    ping.xclient.data.l[1] = ++serial_;
    ping.xclient.data.l[2] = static_cast<long>(target);
    XSendEvent(display_, target, False, NoEventMask, &ping);
    XFlush(display_);
    return true;
}

ReceiverCatchUp::Outcome ReceiverCatchUp::waitForAnswer(std::chrono::milliseconds limit) {
    if (answered_ == serial_) return Outcome::caughtUp;
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        while (answered_ < serial_ && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            take(event);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (answered_ == serial_ || left.count() <= 0) break;
        pollfd readable{ConnectionNumber(display_), POLLIN, 0};
        // A lost server ends the wait at once instead of spinning until the limit.
        if (poll(&readable, 1, static_cast<int>(left.count()) + 1) < 0 ||
            (readable.revents & (POLLHUP | POLLERR)) != 0) {
            break;
        }
    }
    if (answered_ < serial_) {
        // Given up: a later answer to these pings must not count for the next ones.
        answered_ = serial_;
        XSelectInput(display_, DefaultRootWindow(display_), NoEventMask);
        XFlush(display_);
        return Outcome::noAnswer;
    }
    XSelectInput(display_, DefaultRootWindow(display_), NoEventMask);
    XFlush(display_);
    return Outcome::caughtUp;
}

ReceiverCatchUp::Outcome ReceiverCatchUp::wait(std::chrono::milliseconds limit) {
    if (!ask()) return Outcome::noEvidence;
    return waitForAnswer(limit);
}

}  // namespace kestrune::x11
