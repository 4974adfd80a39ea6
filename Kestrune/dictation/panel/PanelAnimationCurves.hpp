#pragma once

namespace kestrune::hud {

// A damped spring carrying a value from its start to its end, as progress 0 → 1 over time. The
// initial velocity is in whole distances per second toward the end.
struct SpringCurve {
    double damping = 0;
    double stiffness = 0;
    double mass = 1;
    double initialVelocity = 0;

    // Progress `seconds` after the start; overshoots 1 when the spring is under-damped.
    double progress(double seconds) const;
};

// A cubic Bézier timing curve from (0, 0) to (1, 1) with control points (x1, y1) and (x2, y2),
// the usual way of describing ease-in and ease-out.
struct TimingCurve {
    double x1 = 0;
    double y1 = 0;
    double x2 = 1;
    double y2 = 1;

    // Eased progress for linear progress `x` (clamped to 0…1).
    double value(double x) const;
};

// The panel's animations, in seconds.
struct PanelAnimation {
    // Appearing: the background grows from 0.86 with a lively spring while the panel fades in.
    static constexpr double kAppearFromScale = 0.86;
    static constexpr SpringCurve kAppearSpring{
        .damping = 17, .stiffness = 180, .mass = 1, .initialVelocity = 6};
    // The spring is cut here, past its overshoot, with the scale within 1 % of its end; the
    // last step to 1.0 is under two pixels on the widest panel.
    static constexpr double kAppearDuration = 0.35;
    static constexpr double kFadeInDuration = 0.18;
    // Disappearing: the background shrinks a little while the panel fades out.
    static constexpr double kDisappearToScale = 0.92;
    static constexpr double kFadeOutDuration = 0.22;
    // A new text resizes the visible panel smoothly instead of jumping.
    static constexpr double kResizeDuration = 0.25;
    // Each level update glides the bars briefly, hiding the steps between updates.
    static constexpr double kBarUpdateDuration = 0.06;

    static constexpr TimingCurve kEaseInEaseOut{.x1 = 0.42, .y1 = 0, .x2 = 0.58, .y2 = 1};
    static constexpr TimingCurve kEaseOut{.x1 = 0, .y1 = 0, .x2 = 0.58, .y2 = 1};

    // The appear spring's scale at linear progress `x` of its duration, and the eased progress
    // of the two curves, as functions a Qt easing curve can call.
    static double appearScale(double x);
    static double easeInEaseOut(double x);
    static double easeOut(double x);
};

}  // namespace kestrune::hud
