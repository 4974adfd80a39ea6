#include "KestruneRemoteKit/Support/SecondsSince1970.hpp"

#include <cmath>
#include <cstdint>

namespace kestrune {

using Time = std::chrono::system_clock::time_point;

// Whole seconds and the fraction are converted apart: the sum of both as one double would round
// away the fraction of a present-day date.
double secondsSince1970(Time time) {
    const auto since = time.time_since_epoch();
    const auto whole = std::chrono::floor<std::chrono::seconds>(since);
    return static_cast<double>(whole.count()) +
           std::chrono::duration<double>(since - whole).count();
}

std::optional<Time> timeFromSecondsSince1970(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxStoredSeconds) return std::nullopt;
    const double whole = std::floor(seconds);
    const auto fraction =
        std::chrono::round<Time::duration>(std::chrono::duration<double>(seconds - whole));
    return Time(std::chrono::seconds(static_cast<std::int64_t>(whole)) + fraction);
}

}  // namespace kestrune
