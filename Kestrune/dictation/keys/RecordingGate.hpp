#pragma once

#include <cstdint>
#include <optional>

namespace kestrune {

// The phase of one push-to-talk recording and which press it belongs to, so that late answers
// (permission prompts, capture start) for an abandoned press are recognised and dropped.
class RecordingGate {
  public:
    enum class Phase { idle, preparing, recording, stopping, refining };

    struct Attempt {
        std::uint64_t id = 0;
        bool operator==(const Attempt&) const = default;
    };

    enum class Confirmation { record, abandon, stale };

    struct ReleaseAction {
        enum class Kind { cancelPreparation, stopRecording, nothing };
        Kind kind = Kind::nothing;
        // The attempt whose recording stops (stopRecording only).
        std::optional<Attempt> attempt;
        bool operator==(const ReleaseAction&) const = default;
    };

    std::optional<Attempt> press();
    Confirmation confirmRecording(Attempt attempt);
    ReleaseAction release();
    bool beginRefining(Attempt attempt);
    void finish(Attempt attempt);

    Phase phase() const { return phase_; }
    bool isPressed() const { return isPressed_; }
    std::optional<Attempt> activeAttempt() const { return activeAttempt_; }

  private:
    Phase phase_ = Phase::idle;
    bool isPressed_ = false;
    std::uint64_t nextAttemptID_ = 0;
    std::optional<Attempt> activeAttempt_;
};

}  // namespace kestrune
