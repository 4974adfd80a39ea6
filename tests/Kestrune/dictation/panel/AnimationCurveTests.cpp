// The panel's spring and timing curves.
#include <gtest/gtest.h>

#include <cmath>

#include "Kestrune/dictation/panel/PanelAnimationCurves.hpp"

namespace kestrune::hud {
namespace {

TEST(SpringCurve, StartsAtRestWithItsVelocityAndSettlesAtTheEnd) {
    const SpringCurve spring = PanelAnimation::kAppearSpring;
    EXPECT_DOUBLE_EQ(spring.progress(0), 0);
    constexpr double kStep = 1e-6;
    EXPECT_NEAR(spring.progress(kStep) / kStep, 6, 1e-3) << "initial velocity, distances/s";
    EXPECT_NEAR(spring.progress(3), 1, 1e-9);
    // Damping 17 against stiffness 180 is under-damped: the panel grows a little past its size
    // before it settles; by the end of the 0.35 s animation the scale is within 1 % of 1.0.
    double peak = 0;
    for (double t = 0; t < 1; t += 0.001) peak = std::max(peak, spring.progress(t));
    EXPECT_GT(peak, 1.01);
    EXPECT_LT(peak, 1.2);
    EXPECT_DOUBLE_EQ(PanelAnimation::appearScale(0), 0.86);
    EXPECT_NEAR(PanelAnimation::appearScale(1), 1, 0.01);
    EXPECT_GT(PanelAnimation::appearScale(0.5), 1) << "past its size halfway through";
}

TEST(SpringCurve, TheThreeDampingRegimesMeetAtCriticalDamping) {
    // Critical damping for stiffness 100, mass 1 is 20; either side must give nearly the same
    // motion, or one of the three formulas is wrong.
    for (double t : {0.05, 0.1, 0.2, 0.4}) {
        const double under = SpringCurve{19.999, 100, 1, 6}.progress(t);
        const double critical = SpringCurve{20, 100, 1, 6}.progress(t);
        const double over = SpringCurve{20.001, 100, 1, 6}.progress(t);
        EXPECT_NEAR(under, critical, 1e-4) << t;
        EXPECT_NEAR(over, critical, 1e-4) << t;
    }
    // A heavily damped spring creeps up without overshooting.
    const SpringCurve heavy{60, 100, 1, 0};
    double previous = 0;
    for (double t = 0.01; t < 5; t += 0.01) {
        const double now = heavy.progress(t);
        ASSERT_GE(now, previous);
        ASSERT_LE(now, 1);
        previous = now;
    }
}

TEST(TimingCurve, EaseCurvesRunFromZeroToOne) {
    for (auto curve : {PanelAnimation::easeInEaseOut, PanelAnimation::easeOut}) {
        EXPECT_NEAR(curve(0), 0, 1e-6);
        EXPECT_NEAR(curve(1), 1, 1e-6);
        double previous = 0;
        for (double x = 0.01; x <= 1; x += 0.01) {
            ASSERT_GE(curve(x), previous - 1e-9) << x;
            previous = curve(x);
        }
    }
    // Ease-in-ease-out is symmetric and slow at both ends; ease-out is quick at the start.
    EXPECT_NEAR(PanelAnimation::easeInEaseOut(0.5), 0.5, 1e-6);
    EXPECT_NEAR(PanelAnimation::easeInEaseOut(0.2) + PanelAnimation::easeInEaseOut(0.8), 1, 1e-6);
    EXPECT_LT(PanelAnimation::easeInEaseOut(0.1), 0.05);
    EXPECT_GT(PanelAnimation::easeOut(0.2), 0.3);
    EXPECT_NEAR(PanelAnimation::easeOut(2), 1, 1e-6) << "clamped";
}

}  // namespace
}  // namespace kestrune::hud
