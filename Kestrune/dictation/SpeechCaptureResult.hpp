#pragma once

#include <string>
#include <vector>

namespace kestrune {

// What one recording produced: the recognizer's best transcript and up to three alternatives.
struct SpeechCaptureResult {
    std::string transcript;
    std::vector<std::string> alternatives;
    bool operator==(const SpeechCaptureResult&) const = default;
};

}  // namespace kestrune
