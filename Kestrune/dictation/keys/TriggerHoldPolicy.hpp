#pragma once

#include <cstdint>
#include <optional>

namespace kestrune {

// Decides whether a modifier hold is a real push-to-talk hold: a hold interrupted by other input
// (a shortcut such as Alt+Tab) or already released does not start recording.
class TriggerHoldPolicy {
  public:
    struct Hold {
        std::uint64_t id = 0;
        bool operator==(const Hold&) const = default;
    };

    Hold beginHold();
    void noteOtherInput();
    void endHold();
    bool shouldStartRecording(Hold hold) const;

    bool isHeld() const { return isHeld_; }
    bool wasInterrupted() const { return wasInterrupted_; }

  private:
    std::uint64_t nextHoldID_ = 0;
    std::optional<Hold> activeHold_;
    bool isHeld_ = false;
    bool wasInterrupted_ = false;
};

}  // namespace kestrune
