#include "Kestrune/phone/controller/SendToPhoneServicePolicy.hpp"

namespace kestrune {

SendToPhoneServicePolicy::Actions SendToPhoneServicePolicy::serviceStopped(
    std::size_t waitingItems) {
    const bool comeBack = sentDuringStop && waitingItems > 0;
    stopInFlight = false;
    sentDuringStop = false;
    openedForSending = comeBack;
    return comeBack ? Actions{Action::turnOn} : Actions{};
}

SendToPhoneServicePolicy::Actions SendToPhoneServicePolicy::itemSent(
    const RemoteInputLifecycle::State& state) {
    if (std::holds_alternative<RemoteInputLifecycle::Off>(state)) {
        openedForSending = true;
        return {Action::turnOn};
    }
    if (const auto* starting = std::get_if<RemoteInputLifecycle::Starting>(&state)) {
        // A start that would stop once up is kept up for the item instead.
        if (!starting->stopRequested) return {};
        openedForSending = true;
        return {Action::turnOn};
    }
    if (stopInFlight) sentDuringStop = true;
    return {};
}

SendToPhoneServicePolicy::Actions SendToPhoneServicePolicy::outboxChanged(
    std::size_t waitingItems, const RemoteInputLifecycle::State& state) const {
    if (waitingItems == 0 && openedForSending &&
        std::holds_alternative<RemoteInputLifecycle::On>(state)) {
        return {Action::turnOff};
    }
    return {};
}

}  // namespace kestrune
