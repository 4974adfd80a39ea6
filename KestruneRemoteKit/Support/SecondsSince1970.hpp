#pragma once

#include <chrono>
#include <optional>

namespace kestrune {

// Times kept in our JSON files as seconds since 1970 (a double, as the earlier edition wrote
// them). One conversion for every file, so they all accept and refuse the same numbers.

// Beyond this many seconds from 1970 a time does not fit the clock's nanosecond count (about
// ±9.2e9 s), so a stored number past it cannot be one we wrote.
inline constexpr double kMaxStoredSeconds = 9.0e9;

double secondsSince1970(std::chrono::system_clock::time_point time);

// None for a number that is not finite or lies beyond `kMaxStoredSeconds`.
std::optional<std::chrono::system_clock::time_point> timeFromSecondsSince1970(double seconds);

}  // namespace kestrune
