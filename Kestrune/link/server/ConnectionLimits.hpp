#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrune {

// What the admission rules need to know about one open connection.
struct ConnectionSnapshot {
    enum class Phase { awaitingAuth, awaitingApproval, authorized, closed };
    std::uint64_t order = 0;  // acceptance order; smaller is older
    std::string peerHost;
    Phase phase = Phase::awaitingAuth;
    bool working = false;  // a command or picture of this connection is being carried out
    std::uint64_t lastHeard = 0;
};

struct ConnectionLimits {
    // Unauthenticated connections cost a TLS handshake and a timer each; beyond this many, the
    // busiest host's oldest attempt makes room for the newcomer.
    std::size_t maxPendingConnections = 16;
    std::size_t maxConnections = 8;
};

// What to do with a new arrival: close `evict` first (when set), then accept it, or refuse it.
struct AdmissionDecision {
    std::optional<std::uint64_t> evict;
    bool refuse = false;
    bool operator==(const AdmissionDecision&) const = default;
};

// Among unauthenticated connections: the oldest one of the host holding the most of them (on a
// tie, the host whose oldest connection is older). None when nothing is unauthenticated.
std::optional<std::uint64_t> evictionCandidate(std::span<const ConnectionSnapshot> connections);

// Among authorized connections with nothing running: the one heard from least recently.
std::optional<std::uint64_t> leastRecentlyHeardIdle(
    std::span<const ConnectionSnapshot> connections);

// The admission rule for a new arrival, given every registered connection.
AdmissionDecision decideAdmission(std::span<const ConnectionSnapshot> connections,
                                  const ConnectionLimits& limits);

}  // namespace kestrune
