#include "Kestrune/dictation/speech/AudioInputRouteReadiness.hpp"

#include <cmath>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

Result<void, KestruneError> AudioInputRouteReadiness::validate(const AudioFormat& hardwareFormat,
                                                               const AudioFormat& clientFormat) {
    if (std::abs(hardwareFormat.sampleRate - clientFormat.sampleRate) >= kSampleRateTolerance ||
        hardwareFormat.channelCount != clientFormat.channelCount) {
        return KestruneError::recordingFailed(
            localized("Audio input is switching. Please try again."));
    }
    return {};
}

}  // namespace kestrune
