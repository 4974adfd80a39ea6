#pragma once

#include <functional>
#include <optional>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// Stops the server after a stretch without activity. While the server is open only so that the
// computer can send to phones, the sending time-out applies even when the user turned the idle
// stop off. Lives on the server's queue; every call must come from it.
class IdleStopTimer {
  public:
    IdleStopTimer(MainQueue& queue, std::optional<Duration> idleTimeout,
                  Duration sendingIdleTimeout, std::function<void()> onIdle);
    ~IdleStopTimer();
    IdleStopTimer(const IdleStopTimer&) = delete;
    IdleStopTimer& operator=(const IdleStopTimer&) = delete;

    // Activity: the stop is scheduled anew from now (or not at all without a time-out).
    void reset();
    void cancel();

    // `listening` is whether the server has a port: before that nothing is scheduled yet.
    void setIdleTimeout(std::optional<Duration> timeout, bool listening);
    void setOpenedForSending(bool opened, bool listening);
    void noteSend(bool listening);

    std::optional<Duration> effectiveTimeout() const;
    bool isScheduled() const { return scheduled_.has_value(); }
    bool openedForSending() const { return openedForSending_; }

  private:
    MainQueue& queue_;
    std::optional<Duration> idleTimeout_;
    Duration sendingIdleTimeout_;
    std::function<void()> onIdle_;
    bool openedForSending_ = false;
    std::optional<TaskId> scheduled_;
};

}  // namespace kestrune
