#include "Kestrune/link/server/AcceptPause.hpp"

namespace kestrune {

void AcceptPause::pausedAgain(std::string reason, Clock::time_point now) {
    if (count_ == 0) since_ = now;
    ++count_;
    reason_ = std::move(reason);
}

std::optional<std::string> AcceptPause::ended(Clock::time_point now) {
    if (count_ == 0) return std::nullopt;
    const auto tenths =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - since_).count() / 100;
    std::string line = "accepting was paused " + std::to_string(count_) +
                       (count_ == 1 ? " time" : " times") + " over " + std::to_string(tenths / 10) +
                       "." + std::to_string(tenths % 10) + " s, out of resources: " + reason_;
    count_ = 0;
    return line;
}

}  // namespace kestrune
