#pragma once

#include <cstdint>
#include <optional>

namespace kestrune {

// Which port a launch asks for and how many more times the same port may be tried.
struct LaunchAttempt {
    std::optional<std::uint16_t> port;  // none: any free port
    int retriesLeft = 0;
    bool operator==(const LaunchAttempt&) const = default;
};

// The port choice of the listener: a port that is taken is tried again a few times (its previous
// owner is often just going away), then the server settles for any free port rather than none.
struct PortPlan {
    // Five retries after the first try: six tries in all, a short pause apart.
    static constexpr int kRetriesOnSamePort = 5;

    enum class Next { stopFailed, launchNow, launchAfterDelay, completeStartsWithError };

    struct Step {
        Next next = Next::stopFailed;
        LaunchAttempt attempt;  // for launchNow and launchAfterDelay
        bool operator==(const Step&) const = default;
    };

    // The first launch of a start: the port that worked last time, else the preferred one.
    static LaunchAttempt firstAttempt(std::optional<std::uint16_t> lastPort,
                                      std::optional<std::uint16_t> preferredPort);

    // The listener could not even be created for `attempt`.
    static Step afterCreationFailure(const LaunchAttempt& attempt);

    // The listener failed (or kept waiting) for `attempt`; `portKnown` when it had been ready.
    static Step afterListenerFailure(const LaunchAttempt& attempt, bool portKnown);
};

}  // namespace kestrune
