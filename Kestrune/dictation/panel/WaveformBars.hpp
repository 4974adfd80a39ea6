#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>

namespace kestrune::hud {

// One bar of the waveform, in the view's coordinates (y growing downwards).
struct BarFrame {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// The waveform's five bars: how the shown level follows the microphone and where each bar sits.
struct WaveformBars {
    // Left to right: the middle bar is the tallest, so a steady level still reads as a voice.
    static constexpr std::array<double, 5> kBarWeights{0.5, 0.8, 1.0, 0.75, 0.55};
    static constexpr std::size_t kBarCount = kBarWeights.size();
    // Rising levels are followed quickly and falling ones slowly, so syllables show as pulses
    // that decay instead of flicker.
    static constexpr double kAttack = 0.40;
    static constexpr double kRelease = 0.15;
    // The lowest level drawn: silent bars stay visible as short pills.
    static constexpr double kFloorLevel = 0.02;
    // Each bar is scaled by a fresh random factor in this range on every layout, so a steady
    // level still looks alive.
    static constexpr double kShimmerLow = 0.96;
    static constexpr double kShimmerHigh = 1.04;
    static constexpr double kBarWidth = 6;
    static constexpr double kBarCornerRadius = 3;
    // Height of a bar at level 0 before the weight applies: a full circle of the bar's width
    // plus one pixel.
    static constexpr double kBaseBarHeight = 7;

    using Shimmer = std::array<double, kBarCount>;
    using Frames = std::array<BarFrame, kBarCount>;

    // One smoothing step of the shown level `displayed` toward the microphone's `level` (clamped
    // to 0…1).
    static double smoothed(double displayed, double level);

    // The bars for a view `width` × `height` at the shown level, each scaled by its shimmer
    // factor; none while the view has no area.
    static std::optional<Frames> layout(double width, double height, double displayedLevel,
                                        const Shimmer& shimmer);
};

// Draws the shimmer factors: uniform in kShimmerLow…kShimmerHigh. Seeded from the system, as the
// look does not depend on the sequence; tests pass their own seed.
class ShimmerSource {
  public:
    ShimmerSource();
    explicit ShimmerSource(std::uint32_t seed) : engine_(seed) {}

    WaveformBars::Shimmer next();

  private:
    std::minstd_rand engine_;
    std::uniform_real_distribution<double> factor_{WaveformBars::kShimmerLow,
                                                   WaveformBars::kShimmerHigh};
};

}  // namespace kestrune::hud
