#include "Kestrune/link/server/PortPlan.hpp"

namespace kestrune {

LaunchAttempt PortPlan::firstAttempt(std::optional<std::uint16_t> lastPort,
                                     std::optional<std::uint16_t> preferredPort) {
    return {lastPort ? lastPort : preferredPort, kRetriesOnSamePort};
}

PortPlan::Step PortPlan::afterCreationFailure(const LaunchAttempt& attempt) {
    if (!attempt.port) return {Next::completeStartsWithError, {}};
    return {Next::launchNow, {std::nullopt, 0}};
}

PortPlan::Step PortPlan::afterListenerFailure(const LaunchAttempt& attempt, bool portKnown) {
    if (portKnown || !attempt.port) return {Next::stopFailed, {}};
    if (attempt.retriesLeft <= 0) return {Next::launchNow, {std::nullopt, 0}};
    return {Next::launchAfterDelay, {attempt.port, attempt.retriesLeft - 1}};
}

}  // namespace kestrune
