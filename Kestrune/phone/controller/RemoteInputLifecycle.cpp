#include "Kestrune/phone/controller/RemoteInputLifecycle.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

RemoteInputLifecycle::Actions RemoteInputLifecycle::turnOn(bool pair, Origin requestedBy) {
    if (isOff()) {
        origin = requestedBy;
        state = Starting{false, pair};
        return {Action::start()};
    }
    if (on()) return pair ? Actions{Action::showPairing()} : Actions{};
    // Starting: a turn-off that was waiting is cancelled, a pairing request is remembered, and a
    // user's request makes the start the user's (its failure then deserves an alert).
    state = Starting{false, starting()->pair || pair};
    if (requestedBy == Origin::user) origin = Origin::user;
    return {};
}

RemoteInputLifecycle::Actions RemoteInputLifecycle::turnOff() {
    if (const auto* current = starting()) {
        state = Starting{true, current->pair};
        return {};
    }
    if (on()) return {Action::stop()};
    return {};
}

RemoteInputLifecycle::Action RemoteInputLifecycle::failure(const std::string& alertTitle,
                                                           const std::string& message) const {
    if (origin == Origin::automatic) return Action::noteFailure(message);
    return Action::alert(alertTitle, message);
}

RemoteInputLifecycle::Actions RemoteInputLifecycle::startFailed(const std::string& message) {
    const auto* current = starting();
    if (!current) return {};
    const bool stopWasRequested = current->stopRequested;
    state = Off{};
    if (stopWasRequested) return {};
    return {failure(localized("Phone Connection could not start"), message)};
}

RemoteInputLifecycle::Actions RemoteInputLifecycle::startedOnPort(std::uint16_t port) {
    const auto* current = starting();
    if (!current) return {};
    const Starting was = *current;
    state = On{port};
    if (was.stopRequested) return {Action::stop()};
    if (was.pair) return {Action::showPairing()};
    return {};
}

RemoteInputLifecycle::Actions RemoteInputLifecycle::stopped(
    const RemoteInputServer::StopReason& reason) {
    if (!on()) return {};
    state = Off{};
    if (reason.kind != RemoteInputServer::StopReason::Kind::failed) return {};
    return {failure(localized("Phone Connection stopped"), reason.message)};
}

}  // namespace kestrune
