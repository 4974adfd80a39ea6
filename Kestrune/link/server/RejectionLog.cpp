#include "Kestrune/link/server/RejectionLog.hpp"

#include <algorithm>
#include <vector>

namespace kestrune {

namespace {

const char* describe(RejectionLog::Kind kind, bool plural) {
    switch (kind) {
        case RejectionLog::Kind::refused:
            return plural ? "connections refused, every connection busy"
                          : "connection refused, every connection busy";
        case RejectionLog::Kind::evicted:
            return plural ? "unauthenticated connections closed to make room"
                          : "unauthenticated connection closed to make room";
        case RejectionLog::Kind::timedOut:
            return plural ? "connections closed without authenticating in time"
                          : "connection closed without authenticating in time";
    }
    return "";
}

}  // namespace

RejectionLog::RejectionLog(MainQueue& queue, Write write, Duration interval)
    : queue_(queue), write_(std::move(write)), interval_(interval) {}

RejectionLog::~RejectionLog() {
    for (auto& each : summaries_) {
        if (each.timer) queue_.cancel(*each.timer);
    }
}

void RejectionLog::note(Kind kind, const std::string& host) {
    Summary& current = summary(kind);
    if (!current.timer) {
        write_(std::string("1 ") + describe(kind, false) + ": from " + host);
        current.timer = queue_.postAfter(interval_, [this, kind] { minuteOver(kind); });
        return;
    }
    ++current.count;
    if (const auto found = current.hosts.find(host); found != current.hosts.end()) {
        ++found->second;
    } else if (current.hosts.size() < kMaxHostsTracked) {
        current.hosts.emplace(host, 1);
    } else {
        ++current.untracked;
    }
}

void RejectionLog::minuteOver(Kind kind) {
    Summary& current = summary(kind);
    current.timer.reset();
    if (current.count == 0) return;  // a quiet minute: the next one is written at once again
    writeSummary(kind, current);
    current.timer = queue_.postAfter(interval_, [this, kind] { minuteOver(kind); });
}

void RejectionLog::flush() {
    for (std::size_t index = 0; index < summaries_.size(); ++index) {
        Summary& current = summaries_[index];
        if (current.timer) queue_.cancel(*current.timer);
        current.timer.reset();
        if (current.count > 0) writeSummary(static_cast<Kind>(index), current);
    }
}

void RejectionLog::writeSummary(Kind kind, Summary& summary) {
    std::vector<std::pair<std::string, std::size_t>> busiest(summary.hosts.begin(),
                                                             summary.hosts.end());
    std::stable_sort(busiest.begin(), busiest.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string line =
        std::to_string(summary.count) + " more " + describe(kind, summary.count != 1) + ": from ";
    std::size_t others = summary.untracked;
    for (std::size_t i = 0; i < busiest.size(); ++i) {
        if (i >= kMaxHostsNamed) {
            others += busiest[i].second;
            continue;
        }
        if (i > 0) line += ", ";
        line += busiest[i].first + " (" + std::to_string(busiest[i].second) + ")";
    }
    if (others > 0) {
        line += (busiest.empty() ? "" : ", ") + std::to_string(others) + " from other addresses";
    }
    write_(line);
    summary = Summary{};
}

}  // namespace kestrune
