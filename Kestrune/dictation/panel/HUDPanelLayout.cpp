#include "Kestrune/dictation/panel/HUDPanelLayout.hpp"

#include <algorithm>
#include <cmath>

namespace kestrune::hud {

int HUDPanelLayout::textWidth(double measuredWidth) {
    return static_cast<int>(std::ceil(std::max(measuredWidth, 0.0))) + kTextSlack;
}

int HUDPanelLayout::panelWidth(double measuredWidth) {
    const int text = textWidth(measuredWidth);
    if (text < kMinimumTextWidth) return kMinimumPanelWidth;
    return std::max(std::min(text, kMaximumTextWidth) + kFixedWidth, kMinimumPanelWidth);
}

bool HUDPanelLayout::truncates(double measuredWidth) {
    return measuredWidth > labelWidth(panelWidth(measuredWidth));
}

PanelRect HUDPanelLayout::frameOnScreen(const PanelRect& available, int panelWidth) {
    return {
        .x = available.x + (available.width - panelWidth) / 2,
        .y = available.y + available.height - kBottomMargin - kPanelHeight,
        .width = panelWidth,
        .height = kPanelHeight,
    };
}

std::optional<std::size_t> HUDPanelLayout::screenFor(int pointerX, int pointerY,
                                                     std::span<const PanelRect> screens,
                                                     std::optional<std::size_t> primary) {
    for (std::size_t i = 0; i < screens.size(); ++i) {
        if (screens[i].contains(pointerX, pointerY)) return i;
    }
    if (primary && *primary < screens.size()) return primary;
    if (!screens.empty()) return 0;
    return std::nullopt;
}

}  // namespace kestrune::hud
