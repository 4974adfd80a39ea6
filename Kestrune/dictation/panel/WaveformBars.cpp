#include "Kestrune/dictation/panel/WaveformBars.hpp"

#include <algorithm>

namespace kestrune::hud {

double WaveformBars::smoothed(double displayed, double level) {
    const double target = std::clamp(level, 0.0, 1.0);
    const double rate = target > displayed ? kAttack : kRelease;
    return displayed + (target - displayed) * rate;
}

std::optional<WaveformBars::Frames> WaveformBars::layout(double width, double height,
                                                         double displayedLevel,
                                                         const Shimmer& shimmer) {
    if (!(width > 0) || !(height > 0)) return std::nullopt;
    const double level = std::clamp(displayedLevel, kFloorLevel, 1.0);
    const auto count = static_cast<double>(kBarCount);
    // The gaps between bars share what the bars leave of the width; with fewer than three bars
    // there is a single gap.
    const double gaps = kBarCount >= 3 ? count - 1 : 1;
    const double step = kBarWidth + (width - kBarWidth * count) / gaps;
    Frames frames;
    for (std::size_t i = 0; i < kBarCount; ++i) {
        const double h = std::min(
            (height - kBaseBarHeight) * level * kBarWeights[i] * shimmer[i] + kBaseBarHeight,
            height);
        frames[i] = {.x = static_cast<double>(i) * step,
                     .y = (height - h) / 2,
                     .width = kBarWidth,
                     .height = h};
    }
    return frames;
}

ShimmerSource::ShimmerSource() : engine_(std::random_device{}()) {}

WaveformBars::Shimmer ShimmerSource::next() {
    WaveformBars::Shimmer shimmer;
    for (auto& factor : shimmer) factor = factor_(engine_);
    return shimmer;
}

}  // namespace kestrune::hud
