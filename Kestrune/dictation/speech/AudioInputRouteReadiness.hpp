#pragma once

#include <variant>

#include "Kestrune/common/KestruneError.hpp"
#include "Kestrune/dictation/speech/AudioCapture.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Refuses to record while the input is being switched: the stream then delivers in another format
// than the input has, and what it records is not what the recognizer expects.
struct AudioInputRouteReadiness {
    // Rates closer than this are the same rate written two ways.
    static constexpr double kSampleRateTolerance = 1.0;

    // Fails with `recordingFailed` "Audio input is switching. Please try again." when the sample
    // rates differ by the tolerance or more, or the channel counts differ.
    static Result<void, KestruneError> validate(const AudioFormat& hardwareFormat,
                                                const AudioFormat& clientFormat);
};

}  // namespace kestrune
