#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace kestrune::x11 {

// An owned connection to the X server. A lost server marks the connection broken instead of
// ending the process (Xlib's default), so every service degrades to a logged failure.
class Connection {
  public:
    // Opens the display named by $DISPLAY; null (and a log line naming why) when there is none.
    static std::unique_ptr<Connection> open(const char* purpose);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* display() const { return display_; }
    Window root() const { return DefaultRootWindow(display_); }
    bool isBroken() const { return broken_; }

  private:
    explicit Connection(Display* display);
    Display* display_;
    bool broken_ = false;
};

// Catches X protocol errors raised on this thread while it lives (a BadAccess from a grab taken by
// another client, a window that vanished). Errors outside any trap are logged, never fatal.
class ErrorTrap {
  public:
    explicit ErrorTrap(Display* display);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to process every request sent so far, then gives the first error
    // code seen (Success when none).
    int sync();

  private:
    Display* display_;
    ErrorTrap* outer_;
    int firstError_ = 0;
    friend int recordError(Display*, XErrorEvent*);
};

// The user-facing reason every X11 operation fails without a display.
std::string noDisplayReason();

}  // namespace kestrune::x11
