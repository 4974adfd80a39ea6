#pragma once

namespace kestrune {

// Whether the trigger monitor runs, and whether a failed start is waiting for the permission
// (on X11: for a display with the XTest and XInput 2 extensions).
class RecordingMonitorStartPolicy {
  public:
    enum class Status { idle, waitingForAccessibility, monitoring };

    // Records the outcome of a start attempt.
    void noteStart(bool started) {
        status_ = started ? Status::monitoring : Status::waitingForAccessibility;
    }
    void noteStop() { status_ = Status::idle; }
    void reset() { status_ = Status::idle; }

    Status status() const { return status_; }

  private:
    Status status_ = Status::idle;
};

}  // namespace kestrune
