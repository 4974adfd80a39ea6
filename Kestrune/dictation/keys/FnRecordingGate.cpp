#include "Kestrune/dictation/keys/FnRecordingGate.hpp"

namespace kestrune {

std::optional<FnRecordingGate::Attempt> FnRecordingGate::press() {
    isPressed_ = true;
    if (phase_ != Phase::idle) return std::nullopt;
    ++nextAttemptID_;
    activeAttempt_ = Attempt{nextAttemptID_};
    phase_ = Phase::preparing;
    return activeAttempt_;
}

FnRecordingGate::Confirmation FnRecordingGate::confirmRecording(Attempt attempt) {
    if (phase_ != Phase::preparing || activeAttempt_ != attempt) return Confirmation::stale;
    if (isPressed_) {
        phase_ = Phase::recording;
        return Confirmation::record;
    }
    activeAttempt_.reset();
    phase_ = Phase::idle;
    return Confirmation::abandon;
}

FnRecordingGate::ReleaseAction FnRecordingGate::release() {
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

bool FnRecordingGate::beginRefining(Attempt attempt) {
    if (activeAttempt_ != attempt) return false;
    if (phase_ != Phase::recording && phase_ != Phase::stopping) return false;
    phase_ = Phase::refining;
    return true;
}

void FnRecordingGate::finish(Attempt attempt) {
    if (activeAttempt_ != attempt) return;
    activeAttempt_.reset();
    phase_ = Phase::idle;
    isPressed_ = false;
}

}  // namespace kestrune
