#include "Kestrune/link/server/ConnectionLimits.hpp"

#include <algorithm>
#include <map>

namespace kestrune {

std::optional<std::uint64_t> evictionCandidate(std::span<const ConnectionSnapshot> connections) {
    struct HostGroup {
        std::size_t count = 0;
        std::uint64_t oldest = UINT64_MAX;
    };
    std::map<std::string_view, HostGroup> groups;
    for (const auto& connection : connections) {
        if (connection.phase != ConnectionSnapshot::Phase::awaitingAuth) continue;
        auto& group = groups[connection.peerHost];
        ++group.count;
        group.oldest = std::min(group.oldest, connection.order);
    }
    const HostGroup* chosen = nullptr;
    for (const auto& [host, group] : groups) {
        if (!chosen || group.count > chosen->count ||
            (group.count == chosen->count && group.oldest < chosen->oldest)) {
            chosen = &group;
        }
    }
    if (!chosen) return std::nullopt;
    return chosen->oldest;
}

std::optional<std::uint64_t> leastRecentlyHeardIdle(
    std::span<const ConnectionSnapshot> connections) {
    const ConnectionSnapshot* chosen = nullptr;
    for (const auto& connection : connections) {
        if (connection.phase != ConnectionSnapshot::Phase::authorized || connection.working) {
            continue;
        }
        // Equal values cannot occur for distinct connections (every message bumps the counter),
        // but the acceptance order breaks a tie deterministically all the same.
        if (!chosen || connection.lastHeard < chosen->lastHeard ||
            (connection.lastHeard == chosen->lastHeard && connection.order < chosen->order)) {
            chosen = &connection;
        }
    }
    if (!chosen) return std::nullopt;
    return chosen->order;
}

AdmissionDecision decideAdmission(std::span<const ConnectionSnapshot> connections,
                                  const ConnectionLimits& limits) {
    const auto candidate = evictionCandidate(connections);
    const auto pending = std::count_if(connections.begin(), connections.end(), [](const auto& c) {
        return c.phase == ConnectionSnapshot::Phase::awaitingAuth;
    });
    if (candidate && std::size_t(pending) >= limits.maxPendingConnections) {
        return {candidate, false};
    }
    if (connections.size() >= limits.maxConnections) {
        if (candidate) return {candidate, false};
        if (const auto idle = leastRecentlyHeardIdle(connections)) return {idle, false};
        return {std::nullopt, true};
    }
    return {};
}

}  // namespace kestrune
