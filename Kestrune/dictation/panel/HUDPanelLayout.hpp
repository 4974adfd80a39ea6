#pragma once

#include <optional>
#include <span>

namespace kestrune::hud {

// Rectangles and points in device-independent pixels, y growing downwards (X11 and Qt).
struct PanelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool contains(int px, int py) const {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
    friend bool operator==(const PanelRect&, const PanelRect&) = default;
};

// The recording panel's size and place. Its layout, left to right: 16 of padding, the 44 × 32
// waveform, 14 of gap, the one-line label, 20 of padding; the label's width follows the text
// between 160 and 560, so the panel is 254 to 654 wide.
struct HUDPanelLayout {
    static constexpr int kPanelHeight = 56;
    static constexpr int kMinimumTextWidth = 160;
    static constexpr int kMaximumTextWidth = 560;
    static constexpr int kMinimumPanelWidth = 254;
    static constexpr int kWaveformLeading = 16;
    static constexpr int kWaveformWidth = 44;
    static constexpr int kWaveformHeight = 32;
    static constexpr int kTextLeading = 14;
    static constexpr int kTextTrailing = 20;
    // Everything but the label: 16 + 44 + 14 + 20.
    static constexpr int kFixedWidth =
        kWaveformLeading + kWaveformWidth + kTextLeading + kTextTrailing;
    static constexpr int kMaximumPanelWidth = kMaximumTextWidth + kFixedWidth;
    // Room added to the measured text so glyphs that overhang their advance are not clipped.
    static constexpr int kTextSlack = 4;
    // Half the height: the ends are semicircles.
    static constexpr int kCornerRadius = 28;
    // Distance of the panel's bottom edge above the bottom of the screen's available area, clear
    // of a bottom panel or dock.
    static constexpr int kBottomMargin = 56;

    // The label's width for a text measuring `measuredWidth` with the label's font: rounded up to
    // the next whole pixel plus the slack.
    static int textWidth(double measuredWidth);
    // The panel's width for that text: the minimum while the text is narrower than 160, else the
    // text width (at most 560) plus the fixed parts.
    static int panelWidth(double measuredWidth);
    // The width the label gets inside a panel this wide.
    static int labelWidth(int panelWidth) { return panelWidth - kFixedWidth; }
    // Whether the text is too wide for its label and is shown cut short with an ellipsis.
    static bool truncates(double measuredWidth);

    // The panel's frame on a screen whose available area is `available`: centred horizontally,
    // its bottom edge kBottomMargin above the available area's bottom.
    static PanelRect frameOnScreen(const PanelRect& available, int panelWidth);

    // Which screen the panel goes to: the first, in the system's order, whose whole area holds
    // the pointer; else the primary screen; else the first; none without screens.
    static std::optional<std::size_t> screenFor(int pointerX, int pointerY,
                                                std::span<const PanelRect> screens,
                                                std::optional<std::size_t> primary);
};

}  // namespace kestrune::hud
