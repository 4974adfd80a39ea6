#include "Kestrune/link/server/IdleStopTimer.hpp"

namespace kestrune {

IdleStopTimer::IdleStopTimer(MainQueue& queue, std::optional<Duration> idleTimeout,
                             Duration sendingIdleTimeout, std::function<void()> onIdle)
    : queue_(queue),
      idleTimeout_(idleTimeout),
      sendingIdleTimeout_(sendingIdleTimeout),
      onIdle_(std::move(onIdle)) {}

IdleStopTimer::~IdleStopTimer() {
    cancel();
}

std::optional<Duration> IdleStopTimer::effectiveTimeout() const {
    return openedForSending_ ? std::optional<Duration>(sendingIdleTimeout_) : idleTimeout_;
}

void IdleStopTimer::reset() {
    cancel();
    const auto timeout = effectiveTimeout();
    if (!timeout) return;
    scheduled_ = queue_.postAfter(*timeout, [this] {
        scheduled_.reset();
        onIdle_();
    });
}

void IdleStopTimer::cancel() {
    if (scheduled_) queue_.cancel(*scheduled_);
    scheduled_.reset();
}

void IdleStopTimer::setIdleTimeout(std::optional<Duration> timeout, bool listening) {
    idleTimeout_ = timeout;
    // While open for sending the user's setting is not the one in force.
    if (listening && !openedForSending_) reset();
}

void IdleStopTimer::setOpenedForSending(bool opened, bool listening) {
    if (opened == openedForSending_) return;
    openedForSending_ = opened;
    if (listening) reset();
}

void IdleStopTimer::noteSend(bool listening) {
    if (listening) reset();
}

}  // namespace kestrune
