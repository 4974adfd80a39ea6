#include <chrono>
#include <cstdio>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

// Reading accepts the written form (2026-03-01T09:30:05Z) and, for peers that send local time,
// a numeric offset in the form +01:00 or -05:30, converted to UTC. Fractions of a second are
// refused: the wire carries whole seconds, and a date read must write back unchanged.

namespace kestrune {
namespace {

using namespace std::chrono;

constexpr std::size_t kDateTimeLength = 19;  // YYYY-MM-DDTHH:MM:SS
constexpr std::size_t kOffsetLength = 6;     // +HH:MM

std::optional<int> digitsAt(std::string_view text, std::size_t pos, std::size_t count) {
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Seconds from the epoch of the local date and time that starts `text`, when it is a real one.
std::optional<std::int64_t> localSeconds(std::string_view text) {
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto yearValue = digitsAt(text, 0, 4), monthValue = digitsAt(text, 5, 2),
               dayValue = digitsAt(text, 8, 2), hour = digitsAt(text, 11, 2),
               minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    if (!yearValue || !monthValue || !dayValue || !hour || !minute || !second) return std::nullopt;
    const year_month_day date{year{*yearValue}, month{static_cast<unsigned>(*monthValue)},
                              day{static_cast<unsigned>(*dayValue)}};
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    return std::int64_t{sys_days{date}.time_since_epoch().count()} * 86400 + *hour * 3600 +
           *minute * 60 + *second;
}

// Seconds to subtract to get UTC, for a "Z" or "+HH:MM" / "-HH:MM" suffix.
std::optional<std::int64_t> offsetSeconds(std::string_view suffix) {
    if (suffix == "Z") return 0;
    if (suffix.size() != kOffsetLength || (suffix[0] != '+' && suffix[0] != '-') ||
        suffix[3] != ':') {
        return std::nullopt;
    }
    const auto hours = digitsAt(suffix, 1, 2), minutes = digitsAt(suffix, 4, 2);
    if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
    const std::int64_t seconds = *hours * 3600 + *minutes * 60;
    return suffix[0] == '+' ? seconds : -seconds;
}

}  // namespace

std::string formatWireDate(Date date) {
    const auto seconds = floor<std::chrono::seconds>(date);
    const auto days = floor<std::chrono::days>(seconds);
    const year_month_day ymd{days};
    const hh_mm_ss time{seconds - days};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::optional<Date> parseWireDate(std::string_view text) {
    if (text.size() < kDateTimeLength + 1) return std::nullopt;
    const auto local = localSeconds(text.substr(0, kDateTimeLength));
    const auto offset = offsetSeconds(text.substr(kDateTimeLength));
    if (!local || !offset) return std::nullopt;
    const std::int64_t utc = *local - *offset;
    // Dates the clock type cannot hold are refused rather than wrapped.
    const auto limit = duration_cast<std::chrono::seconds>(Date::duration::max()).count();
    if (utc >= limit || utc <= -limit) return std::nullopt;
    return Date{duration_cast<Date::duration>(std::chrono::seconds{utc})};
}

}  // namespace kestrune
