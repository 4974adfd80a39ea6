#include "Kestrune/dictation/panel/PanelAnimationCurves.hpp"

#include <algorithm>
#include <cmath>

namespace kestrune::hud {

double SpringCurve::progress(double seconds) const {
    if (seconds <= 0) return 0;
    // The remaining distance x(t) of a damped oscillator from x(0) = 1 with x'(0) = -v0.
    const double omega = std::sqrt(stiffness / mass);
    const double zeta = damping / (2 * std::sqrt(stiffness * mass));
    const double v0 = initialVelocity;
    double remaining;
    if (zeta < 1) {
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        remaining = std::exp(-zeta * omega * seconds) *
                    (std::cos(omegaD * seconds) +
                     (zeta * omega - v0) / omegaD * std::sin(omegaD * seconds));
    } else if (zeta == 1) {
        remaining = std::exp(-omega * seconds) * (1 + (omega - v0) * seconds);
    } else {
        const double root = std::sqrt(zeta * zeta - 1);
        const double r1 = -omega * (zeta - root);
        const double r2 = -omega * (zeta + root);
        const double a = (-v0 - r2) / (r1 - r2);
        remaining = a * std::exp(r1 * seconds) + (1 - a) * std::exp(r2 * seconds);
    }
    return 1 - remaining;
}

namespace {

// The curve's coordinate at parameter t for control values p1 and p2 (ends at 0 and 1).
double bezier(double p1, double p2, double t) {
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}

double bezierSlope(double p1, double p2, double t) {
    const double u = 1 - t;
    return 3 * u * u * p1 + 6 * u * t * (p2 - p1) + 3 * t * t * (1 - p2);
}

}  // namespace

double TimingCurve::value(double x) const {
    x = std::clamp(x, 0.0, 1.0);
    // Find the parameter whose x is `x`: Newton's method from x itself, bisection when the slope
    // is too flat for it; x(t) rises monotonically for control x values within 0…1.
    constexpr double kPrecision = 1e-7;
    constexpr int kNewtonSteps = 8;
    double t = x;
    for (int i = 0; i < kNewtonSteps; ++i) {
        const double error = bezier(x1, x2, t) - x;
        if (std::abs(error) < kPrecision) return bezier(y1, y2, t);
        const double slope = bezierSlope(x1, x2, t);
        if (std::abs(slope) < 1e-6) break;
        t = std::clamp(t - error / slope, 0.0, 1.0);
    }
    double low = 0;
    double high = 1;
    t = x;
    while (high - low > kPrecision) {
        if (bezier(x1, x2, t) < x) {
            low = t;
        } else {
            high = t;
        }
        t = (low + high) / 2;
    }
    return bezier(y1, y2, t);
}

double PanelAnimation::appearScale(double x) {
    const double progress = kAppearSpring.progress(std::clamp(x, 0.0, 1.0) * kAppearDuration);
    return kAppearFromScale + (1 - kAppearFromScale) * progress;
}

double PanelAnimation::easeInEaseOut(double x) {
    return kEaseInEaseOut.value(x);
}

double PanelAnimation::easeOut(double x) {
    return kEaseOut.value(x);
}

}  // namespace kestrune::hud
