#pragma once

namespace kestrune {

// Whether a failure reported by the platform (recognizer error, input change) still concerns the
// user: only while a recording is starting or running. Once stopping has begun, or after a first
// report tore the recording down, later failures are dropped.
struct SpeechCaptureInterruptionPolicy {
    enum class Status { idle, starting, recording, stopping };

    Status status = Status::idle;

    bool reportsFailures() const {
        return status == Status::starting || status == Status::recording;
    }
};

}  // namespace kestrune
