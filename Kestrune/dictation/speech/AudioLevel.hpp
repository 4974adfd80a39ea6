#pragma once

#include <span>

namespace kestrune {

// The waveform level of one buffer of mono samples: min(rms^0.55 × 4.2, 1), so that quiet speech
// already moves the bars; 0 for an empty buffer. One pass, no allocation: it runs on the audio
// thread for every buffer.
float audioLevel(std::span<const float> samples);

}  // namespace kestrune
