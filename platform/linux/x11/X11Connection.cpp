#include "platform/linux/x11/X11Connection.hpp"

#include <cstdlib>
#include <mutex>

#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune::x11 {

int recordError(Display*, XErrorEvent* event);

namespace {

thread_local ErrorTrap* activeTrap = nullptr;

int ignoreIOError(Display*) {
    return 0;
}

void markBroken(Display*, void* flag) {
    *static_cast<bool*>(flag) = true;
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        XSetErrorHandler(recordError);
        XSetIOErrorHandler(ignoreIOError);
    });
}

}  // namespace

int recordError(Display*, XErrorEvent* event) {
    if (activeTrap != nullptr) {
        if (activeTrap->firstError_ == 0) activeTrap->firstError_ = event->error_code;
        return 0;
    }
    log(LogLevel::warning, "x11",
        "X request " + std::to_string(event->request_code) + " failed with error " +
            std::to_string(event->error_code));
    return 0;
}

std::string noDisplayReason() {
    return "no X11 display: typing and shortcuts need an X11 session (or XWayland clients)";
}

Connection::Connection(Display* display) : display_(display) {}

std::unique_ptr<Connection> Connection::open(const char* purpose) {
    installHandlers();
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        log(LogLevel::warning, "x11", std::string(purpose) + ": " + noDisplayReason());
        return nullptr;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        log(LogLevel::warning, "x11", std::string(purpose) + ": cannot open the X display " + name);
        return nullptr;
    }
    auto connection = std::unique_ptr<Connection>(new Connection(display));
    // A lost server must not end the process: the exit handler returns and the connection is
    // remembered as broken.
    XSetIOErrorExitHandler(display, markBroken, &connection->broken_);
    return connection;
}

Connection::~Connection() {
    if (!broken_) XCloseDisplay(display_);
}

ErrorTrap::ErrorTrap(Display* display) : display_(display), outer_(activeTrap) {
    activeTrap = this;
}

ErrorTrap::~ErrorTrap() {
    XSync(display_, False);
    activeTrap = outer_;
}

int ErrorTrap::sync() {
    XSync(display_, False);
    return firstError_;
}

}  // namespace kestrune::x11
