#include "Kestrune/dictation/keys/RecordingGate.hpp"

namespace kestrune {

std::optional<RecordingGate::Attempt> RecordingGate::press() {
    isPressed_ = true;
    if (phase_ != Phase::idle) return std::nullopt;
    ++nextAttemptID_;
    activeAttempt_ = Attempt{nextAttemptID_};
    phase_ = Phase::preparing;
    return activeAttempt_;
}

RecordingGate::Confirmation RecordingGate::confirmRecording(Attempt attempt) {
    if (phase_ != Phase::preparing || activeAttempt_ != attempt) return Confirmation::stale;
    if (isPressed_) {
        phase_ = Phase::recording;
        return Confirmation::record;
    }
    activeAttempt_.reset();
    phase_ = Phase::idle;
    return Confirmation::abandon;
}

RecordingGate::ReleaseAction RecordingGate::release() {
    isPressed_ = false;
    if (phase_ == Phase::preparing) {
        activeAttempt_.reset();
        phase_ = Phase::idle;
        return {ReleaseAction::Kind::cancelPreparation, std::nullopt};
    }
    if (phase_ == Phase::recording && activeAttempt_) {
        phase_ = Phase::stopping;
        return {ReleaseAction::Kind::stopRecording, activeAttempt_};
    }
    return {};
}

bool RecordingGate::beginRefining(Attempt attempt) {
    if (activeAttempt_ != attempt) return false;
    if (phase_ != Phase::recording && phase_ != Phase::stopping) return false;
    phase_ = Phase::refining;
    return true;
}

void RecordingGate::finish(Attempt attempt) {
    if (activeAttempt_ != attempt) return;
    activeAttempt_.reset();
    phase_ = Phase::idle;
    isPressed_ = false;
}

}  // namespace kestrune
