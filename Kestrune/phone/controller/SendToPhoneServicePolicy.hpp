#pragma once

#include <cstddef>
#include <vector>

#include "Kestrune/phone/controller/RemoteInputLifecycle.hpp"

namespace kestrune {

// Opens Phone Connection just to deliver what the user sends while it is off, and closes it again
// once everything is delivered, without touching the user's own on/off choice.
struct SendToPhoneServicePolicy {
    enum class Action { turnOn, turnOff };
    using Actions = std::vector<Action>;

    // The connection is on (or kept on) only to deliver outbox items.
    bool openedForSending = false;
    // A stop of the server was requested and has not completed.
    bool stopInFlight = false;
    // An item was sent while that stop was in flight: the connection must come back for it.
    bool sentDuringStop = false;

    // The service has stopped; `waitingItems` is what the outbox still holds.
    Actions serviceStopped(std::size_t waitingItems);
    // An item went into the outbox while the lifecycle was in `state`.
    Actions itemSent(const RemoteInputLifecycle::State& state);
    // The outbox changed (and after each start).
    Actions outboxChanged(std::size_t waitingItems, const RemoteInputLifecycle::State& state) const;

    bool operator==(const SendToPhoneServicePolicy&) const = default;
};

}  // namespace kestrune
