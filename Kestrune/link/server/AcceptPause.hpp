#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace kestrune {

// The pauses of the accept loop during one shortage of descriptors or memory. The loop retries ten
// times a second while the shortage lasts; it is reported once, when it is over, with how often and
// how long accepting was paused. Belongs to the listener; not thread-safe.
class AcceptPause {
  public:
    using Clock = std::chrono::steady_clock;

    void pausedAgain(std::string reason, Clock::time_point now = Clock::now());
    // The line to log when a shortage has just ended; none when there was none.
    std::optional<std::string> ended(Clock::time_point now = Clock::now());

  private:
    std::size_t count_ = 0;
    std::string reason_;
    Clock::time_point since_;
};

}  // namespace kestrune
