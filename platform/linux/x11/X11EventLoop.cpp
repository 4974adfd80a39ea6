#include "platform/linux/x11/X11EventLoop.hpp"

#include <poll.h>
#include <unistd.h>

namespace kestrune::x11 {

EventLoop::EventLoop(const char* purpose) : connection_(Connection::open(purpose)) {
    if (!connection_) return;
    if (pipe(wakePipe_) != 0) {
        connection_.reset();
        return;
    }
    thread_ = std::thread([this] { run(); });
}

EventLoop::~EventLoop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    char byte = 0;
    [[maybe_unused]] auto written = write(wakePipe_[1], &byte, 1);
    thread_.join();
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

void EventLoop::setEventHandler(std::function<void(Display*, XEvent&)> handler) {
    if (!isOpen()) return;
    call([this, handler = std::move(handler)](Display*) mutable {
        handler_ = std::move(handler);
        return true;
    });
}

void EventLoop::post(std::function<void(Display*)> work) {
    if (!isOpen()) return;
    submit([this, work = std::move(work)] { work(connection_->display()); });
}

void EventLoop::submit(std::function<void()> work) {
    {
        std::lock_guard guard(lock_);
        work_.push_back(std::move(work));
    }
    char byte = 1;
    [[maybe_unused]] auto written = write(wakePipe_[1], &byte, 1);
}

void EventLoop::run() {
    Display* display = connection_->display();
    while (true) {
        std::vector<std::function<void()>> ready;
        {
            std::lock_guard guard(lock_);
            if (stopping_) break;
            ready.swap(work_);
        }
        // After a lost server the work still runs (and fails quietly), so no caller waits forever.
        for (auto& work : ready) work();
        while (!connection_->isBroken() && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (handler_) handler_(display, event);
        }
        pollfd fds[2] = {{connection_->isBroken() ? -1 : ConnectionNumber(display), POLLIN, 0},
                         {wakePipe_[0], POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents & POLLIN) {
            char drain[64];
            [[maybe_unused]] auto n = read(wakePipe_[0], drain, sizeof drain);
        }
    }
}

}  // namespace kestrune::x11
