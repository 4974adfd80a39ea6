#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/x11/X11Connection.hpp"

namespace kestrune::x11 {

// A private X connection with its own thread that waits for events and for work handed to it.
// The monitor, the shortcut service and the clipboard each run one, so that their grabs, event
// selections and selection ownership never mix with the application's own connection.
class EventLoop {
  public:
    // `purpose` names the service in log lines.
    explicit EventLoop(const char* purpose);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // False when there is no display; every call then does nothing.
    bool isOpen() const { return connection_ != nullptr; }

    // The connection, for work on the loop's thread (whether it broke, its root window).
    const Connection& connection() const { return *connection_; }

    // Receives every event, on the loop's thread. Not from the loop's own thread.
    void setEventHandler(std::function<void(Display*, XEvent&)> handler);

    // Runs `work` on the loop's thread with its display, later, without waiting for it.
    void post(std::function<void(Display*)> work);

    // Runs `work` on the loop's thread with its display and waits for the result. Not from the
    // loop's own thread.
    template <typename Work>
    auto call(Work work) -> decltype(work(static_cast<Display*>(nullptr))) {
        using Value = decltype(work(static_cast<Display*>(nullptr)));
        auto task = std::make_shared<std::packaged_task<Value()>>(
            [this, work = std::move(work)]() mutable { return work(connection_->display()); });
        auto result = task->get_future();
        submit([task] { (*task)(); });
        return result.get();
    }

  private:
    void submit(std::function<void()> work);
    void run();

    std::unique_ptr<Connection> connection_;
    int wakePipe_[2] = {-1, -1};
    std::mutex lock_;
    std::vector<std::function<void()>> work_;
    std::function<void(Display*, XEvent&)> handler_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kestrune::x11
