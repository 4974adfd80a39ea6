#include "KestruneRemoteKit/Client/ReconnectPlan.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace kestrune {

namespace {

using Event = ReconnectPlan::Event;

bool isOneOf(Event event, std::initializer_list<Event> events) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

}  // namespace

ReconnectPlan::ReconnectPlan(std::function<double()> random) : random_(std::move(random)) {}

ReconnectPlan::ReconnectPlan()
    : ReconnectPlan([engine = std::make_shared<std::mt19937_64>(std::random_device{}())] {
          return std::uniform_real_distribution<double>(0.0, 1.0)(*engine);
      }) {}

void ReconnectPlan::reset(Phase next) {
    phase_ = next;
    failures_ = 0;
}

std::vector<ReconnectPlan::Action> ReconnectPlan::backoff() {
    const auto step =
        static_cast<std::size_t>(std::min(failures_, static_cast<int>(kDelays.size()) - 1));
    ++failures_;
    // A source that strays outside 0…1 (or gives NaN) must not stretch or negate the pause.
    double r = random_ ? random_() : 0.5;
    r = std::isnan(r) ? 0.5 : std::clamp(r, 0.0, 1.0);
    phase_ = Phase::waiting;
    return {Retry{kDelays[step] * (1 + kJitter * (2 * r - 1))}};
}

std::vector<ReconnectPlan::Action> ReconnectPlan::handle(Event event) {
    if (event == Event::background) {
        if (phase_ == Phase::background) return {};
        reset(Phase::background);
        return {Disconnect{}};
    }
    switch (phase_) {
        case Phase::background:
            if (event == Event::foreground) {
                phase_ = Phase::connecting;
                return {Connect{}};
            }
            return {};
        case Phase::connecting:
        case Phase::connected:
            // A live link ends the same way whether or not it was already up.
            if (event == Event::ended) return backoff();
            if (event == Event::rejected) {
                reset(Phase::parked);
                return {};
            }
            if (event == Event::certificateMismatch) {
                reset(Phase::awaitingRepair);
                return {};
            }
            if (phase_ == Phase::connecting) {
                if (event == Event::connected) {
                    reset(Phase::connected);
                    return {};
                }
                if (isOneOf(event, {Event::networkChanged, Event::macAppeared,
                                    Event::pairingChanged, Event::macMoved})) {
                    return {Disconnect{}, Connect{}};
                }
                return {};
            }
            if (isOneOf(event, {Event::networkChanged, Event::pairingChanged})) {
                phase_ = Phase::connecting;
                return {Disconnect{}, Connect{}};
            }
            return {};
        case Phase::waiting:
            if (isOneOf(event, {Event::foreground, Event::retryDue, Event::networkChanged,
                                Event::macAppeared, Event::pairingChanged, Event::macMoved})) {
                phase_ = Phase::connecting;
                return {Connect{}};
            }
            return {};
        case Phase::parked:
            if (isOneOf(event, {Event::foreground, Event::macAppeared, Event::pairingChanged})) {
                phase_ = Phase::connecting;
                return {Connect{}};
            }
            return {};
        case Phase::awaitingRepair:
            if (isOneOf(event, {Event::foreground, Event::pairingChanged, Event::macMoved})) {
                phase_ = Phase::connecting;
                return {Connect{}};
            }
            return {};
    }
    return {};
}

}  // namespace kestrune
