#include "bench/dictation/PasteKeyWatch.hpp"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace kestrune::bench {

struct PasteKeyWatch::Watch {
    Display* display = XOpenDisplay(nullptr);
    KeyCode keycode = 0;
    // Written to end the thread, which otherwise sleeps until an event comes: the benchmark's
    // figures include this process's processor time.
    int stopPipe[2] = {-1, -1};
    mutable std::mutex mutex;
    std::chrono::steady_clock::time_point last{};
    std::thread thread;

    void run() {
        pollfd fds[] = {{ConnectionNumber(display), POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        while (fds[1].revents == 0) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == KeyPress && event.xkey.keycode == keycode) {
                    std::lock_guard lock(mutex);
                    last = std::chrono::steady_clock::now();
                }
            }
            ::poll(fds, 2, -1);
        }
    }
};

PasteKeyWatch::PasteKeyWatch(unsigned long window) : watch_(std::make_unique<Watch>()) {
    if (!watch_->display || ::pipe(watch_->stopPipe) != 0) return;
    watch_->keycode = XKeysymToKeycode(watch_->display, XK_v);
    XSelectInput(watch_->display, window, KeyPressMask);
    XFlush(watch_->display);
    watch_->thread = std::thread([watch = watch_.get()] { watch->run(); });
}

PasteKeyWatch::~PasteKeyWatch() {
    if (watch_->thread.joinable()) {
        const char stop = 0;
        // An empty pipe takes the byte.
        [[maybe_unused]] const auto written = ::write(watch_->stopPipe[1], &stop, 1);
        watch_->thread.join();
    }
    for (int fd : watch_->stopPipe) {
        if (fd >= 0) ::close(fd);
    }
    if (watch_->display) XCloseDisplay(watch_->display);
}

std::chrono::steady_clock::time_point PasteKeyWatch::last() const {
    std::lock_guard lock(watch_->mutex);
    return watch_->last;
}

}  // namespace kestrune::bench
