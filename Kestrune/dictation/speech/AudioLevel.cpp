#include "Kestrune/dictation/speech/AudioLevel.hpp"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {
// The curve lifts speech (rms around 0.01–0.1) into the visible half of the waveform.
constexpr float kLevelExponent = 0.55f;
constexpr float kLevelGain = 4.2f;
}  // namespace

float audioLevel(std::span<const float> samples) {
    if (samples.empty()) return 0.0f;
    float sumOfSquares = 0.0f;
    for (const float sample : samples) sumOfSquares += sample * sample;
    const float rms = std::sqrt(sumOfSquares / static_cast<float>(samples.size()));
    return std::min(std::pow(rms, kLevelExponent) * kLevelGain, 1.0f);
}

}  // namespace kestrune
