#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "Kestrune/link/server/RemoteInputServer.hpp"

namespace kestrune {

// Whether Phone Connection is off, starting or on, and what each request or server event means:
// a pure state machine whose decisions come back as actions for the controller to carry out.
struct RemoteInputLifecycle {
    struct Off {
        bool operator==(const Off&) const = default;
    };
    struct Starting {
        // The user turned it off while starting: stop as soon as the port is known.
        bool stopRequested = false;
        // The pairing window was asked for: show it as soon as the port is known.
        bool pair = false;
        bool operator==(const Starting&) const = default;
    };
    struct On {
        std::uint16_t port = 0;
        bool operator==(const On&) const = default;
    };
    using State = std::variant<Off, Starting, On>;

    // Who asked for the current start: failures of the user's own start are alerts, those of the
    // start-up restore a note in the menu.
    enum class Origin { user, automatic };

    struct Action {
        enum class Kind { alert, noteFailure, start, stop, showPairing };
        Kind kind = Kind::start;
        std::string title;    // alert
        std::string message;  // alert, noteFailure

        static Action alert(std::string title, std::string message) {
            return {Kind::alert, std::move(title), std::move(message)};
        }
        static Action noteFailure(std::string message) {
            return {Kind::noteFailure, {}, std::move(message)};
        }
        static Action start() { return {Kind::start, {}, {}}; }
        static Action stop() { return {Kind::stop, {}, {}}; }
        static Action showPairing() { return {Kind::showPairing, {}, {}}; }
        bool operator==(const Action&) const = default;
    };
    using Actions = std::vector<Action>;

    State state = Off{};
    Origin origin = Origin::user;

    Actions turnOn(bool pair, Origin requestedBy);
    Actions turnOff();
    Actions startFailed(const std::string& message);
    Actions startedOnPort(std::uint16_t port);
    Actions stopped(const RemoteInputServer::StopReason& reason);

    bool isOff() const { return std::holds_alternative<Off>(state); }
    const On* on() const { return std::get_if<On>(&state); }
    const Starting* starting() const { return std::get_if<Starting>(&state); }

    bool operator==(const RemoteInputLifecycle&) const = default;

  private:
    // A failure told the way its origin calls for.
    Action failure(const std::string& alertTitle, const std::string& message) const;
};

}  // namespace kestrune
