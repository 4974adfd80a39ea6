#include "Kestrune/dictation/keys/TriggerHoldPolicy.hpp"

namespace kestrune {

TriggerHoldPolicy::Hold TriggerHoldPolicy::beginHold() {
    ++nextHoldID_;
    activeHold_ = Hold{nextHoldID_};
    isHeld_ = true;
    wasInterrupted_ = false;
    return *activeHold_;
}

void TriggerHoldPolicy::noteOtherInput() {
    if (isHeld_) wasInterrupted_ = true;
}

void TriggerHoldPolicy::endHold() {
    isHeld_ = false;
}

bool TriggerHoldPolicy::shouldStartRecording(Hold hold) const {
    return activeHold_ == hold && isHeld_ && !wasInterrupted_;
}

}  // namespace kestrune
