// The waveform's smoothing and the place and height of its bars.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "Kestrune/dictation/panel/WaveformBars.hpp"

namespace kestrune::hud {
namespace {

constexpr WaveformBars::Shimmer kSteady{1, 1, 1, 1, 1};

TEST(WaveformBars, RisesFastAndFallsSlowly) {
    EXPECT_DOUBLE_EQ(WaveformBars::smoothed(0, 1), 0.4);
    EXPECT_DOUBLE_EQ(WaveformBars::smoothed(1, 0), 0.85);
    EXPECT_DOUBLE_EQ(WaveformBars::smoothed(0.5, 0.5), 0.5);
    // Out-of-range levels count as their bound.
    EXPECT_DOUBLE_EQ(WaveformBars::smoothed(0.5, 7), WaveformBars::smoothed(0.5, 1));
    EXPECT_DOUBLE_EQ(WaveformBars::smoothed(0.5, -3), WaveformBars::smoothed(0.5, 0));
    // Ten steps toward silence from full leave 0.85^10, not zero.
    double level = 1;
    for (int i = 0; i < 10; ++i) level = WaveformBars::smoothed(level, 0);
    EXPECT_NEAR(level, 0.1969, 1e-4);
    // A steady voice is reached, never overshot.
    level = 0;
    for (int i = 0; i < 60; ++i) {
        level = WaveformBars::smoothed(level, 0.7);
        ASSERT_LE(level, 0.7);
    }
    EXPECT_NEAR(level, 0.7, 1e-9);
}

TEST(WaveformBars, BarsSpreadOverTheViewAndNeverVanish) {
    const auto quiet = WaveformBars::layout(44, 32, 0, kSteady);
    ASSERT_TRUE(quiet.has_value());
    const double xs[] = {0, 9.5, 19, 28.5, 38};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ((*quiet)[i].x, xs[i]);
        EXPECT_DOUBLE_EQ((*quiet)[i].width, 6);
        // The floor level 0.02 keeps each bar just above 7 pixels.
        EXPECT_GT((*quiet)[i].height, 7.2);
        EXPECT_LE((*quiet)[i].height, 7.5);
        EXPECT_DOUBLE_EQ((*quiet)[i].y * 2 + (*quiet)[i].height, 32) << "centred vertically";
    }
    // The last bar ends at the view's right edge.
    EXPECT_DOUBLE_EQ((*quiet)[4].x + (*quiet)[4].width, 44);

    // Full level: the weights shape the bars and the tallest, shimmering up, is held to the
    // view's height.
    const auto loud = WaveformBars::layout(44, 32, 1, {1.04, 1.04, 1.04, 1.04, 1.04});
    ASSERT_TRUE(loud.has_value());
    EXPECT_DOUBLE_EQ((*loud)[2].height, 32);
    EXPECT_DOUBLE_EQ((*loud)[2].y, 0);
    EXPECT_NEAR((*loud)[0].height, 25 * 0.5 * 1.04 + 7, 1e-9);
    EXPECT_LT((*loud)[0].height, (*loud)[4].height);
    EXPECT_LT((*loud)[4].height, (*loud)[3].height);
    EXPECT_LT((*loud)[3].height, (*loud)[1].height);

    EXPECT_FALSE(WaveformBars::layout(0, 32, 1, kSteady).has_value());
    EXPECT_FALSE(WaveformBars::layout(44, -1, 1, kSteady).has_value());
}

TEST(WaveformBars, ShimmerStaysWithinFourPercentAndChangesEveryTime) {
    ShimmerSource source(42);
    std::set<double> seen;
    for (int i = 0; i < 200; ++i) {
        for (double factor : source.next()) {
            ASSERT_GE(factor, 0.96);
            ASSERT_LE(factor, 1.04);
            seen.insert(factor);
        }
    }
    EXPECT_GT(seen.size(), 900u);
}

}  // namespace
}  // namespace kestrune::hud
