#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// Connections the server turned away, summarised for the log: the first of a kind is written at
// once, so an attack shows up when it starts; later ones are counted, with their source addresses,
// and written at most once a minute per kind; a quiet minute ends the summary. Lives on the
// server's queue; every call must come from it.
class RejectionLog {
  public:
    enum class Kind {
        refused,   // every connection was busy
        evicted,   // closed unauthenticated to make room for a newcomer
        timedOut,  // never authenticated within the hello time-out
    };

    static constexpr Duration kInterval = std::chrono::minutes(1);
    // Addresses named in one line, busiest first; the rest are only counted.
    static constexpr std::size_t kMaxHostsNamed = 5;
    // Addresses remembered per summary: many sources must not grow the server's memory.
    static constexpr std::size_t kMaxHostsTracked = 256;

    using Write = std::function<void(const std::string& line)>;

    RejectionLog(MainQueue& queue, Write write, Duration interval = kInterval);
    ~RejectionLog();
    RejectionLog(const RejectionLog&) = delete;
    RejectionLog& operator=(const RejectionLog&) = delete;

    void note(Kind kind, const std::string& host);
    // Writes what is counted but not yet written (the server stops) and ends every summary.
    void flush();

  private:
    struct Summary {
        std::optional<TaskId> timer;  // set while the summary's minute runs
        std::size_t count = 0;
        std::map<std::string, std::size_t> hosts;
        std::size_t untracked = 0;  // from addresses beyond kMaxHostsTracked
    };

    void minuteOver(Kind kind);
    void writeSummary(Kind kind, Summary& summary);
    Summary& summary(Kind kind) { return summaries_[static_cast<std::size_t>(kind)]; }

    MainQueue& queue_;
    Write write_;
    Duration interval_;
    std::array<Summary, 3> summaries_;
};

}  // namespace kestrune
