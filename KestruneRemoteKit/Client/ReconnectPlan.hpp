#pragma once

#include <array>
#include <functional>
#include <variant>
#include <vector>

namespace kestrune {

// When the phone's subscription connection to the paired computer should come back: after the app
// returns to the foreground, after a network change, when the computer reappears or moves, and
// after a dropped connection, with growing pauses so a computer that is gone is not hammered.
// Pure decision logic: it holds no timer; `retry` tells the owner how long to wait before feeding
// `retryDue` back in.
class ReconnectPlan {
  public:
    enum class Phase { background, connecting, connected, waiting, parked, awaitingRepair };

    enum class Event {
        foreground,
        background,
        connected,
        ended,
        rejected,
        retryDue,
        networkChanged,
        macAppeared,
        pairingChanged,
        macMoved,
        certificateMismatch,
    };

    struct Retry {
        double after;  // seconds
        bool operator==(const Retry&) const = default;
    };
    struct Connect {
        bool operator==(const Connect&) const = default;
    };
    struct Disconnect {
        bool operator==(const Disconnect&) const = default;
    };
    using Action = std::variant<Retry, Connect, Disconnect>;

    // Pauses after the 1st, 2nd, … consecutive drop, in seconds; the last one repeats.
    static constexpr std::array<double, 6> kDelays = {1, 2, 4, 8, 16, 30};
    // Each pause is spread by up to this fraction either way, so phones do not retry in step.
    static constexpr double kJitter = 0.2;

    // `random` gives numbers in 0…1 (values outside are clamped); tests pass a fixed one.
    explicit ReconnectPlan(std::function<double()> random);
    // Uniformly random spread.
    ReconnectPlan();

    // Applies one event; the actions to carry out, in order (often none).
    std::vector<Action> handle(Event event);

    Phase phase() const { return phase_; }
    int failures() const { return failures_; }

  private:
    std::vector<Action> backoff();
    void reset(Phase next);

    Phase phase_ = Phase::background;
    int failures_ = 0;
    std::function<double()> random_;
};

}  // namespace kestrune
