// The recording panel's width rule and its place on the screens.
#include <gtest/gtest.h>

#include <vector>

#include "Kestrune/dictation/panel/HUDPanelLayout.hpp"

namespace kestrune::hud {
namespace {

// The text's width is the measure rounded up plus 4; the panel stays at its narrowest until
// that reaches 160, then grows with it to 560 of text, and never further.
TEST(HUDPanelLayout, WidthGrowsWithTheTextBetweenBothEnds) {
    EXPECT_EQ(HUDPanelLayout::panelWidth(0), 254);
    EXPECT_EQ(HUDPanelLayout::panelWidth(155.0), 254);   // 159: below the minimum text width
    EXPECT_EQ(HUDPanelLayout::panelWidth(156.0), 254);   // 160 + 94
    EXPECT_EQ(HUDPanelLayout::panelWidth(156.01), 255);  // rounded up to 157, + 4
    EXPECT_EQ(HUDPanelLayout::panelWidth(300.5), 399);
    EXPECT_EQ(HUDPanelLayout::panelWidth(556.0), 654);
    EXPECT_EQ(HUDPanelLayout::panelWidth(556.2), 654);
    EXPECT_EQ(HUDPanelLayout::panelWidth(5000), 654);
    EXPECT_EQ(HUDPanelLayout::labelWidth(654), 560);
    EXPECT_EQ(HUDPanelLayout::labelWidth(254), 160);
}

TEST(HUDPanelLayout, OnlyTextWiderThanTheWidestLabelIsCutShort) {
    EXPECT_FALSE(HUDPanelLayout::truncates(10));
    EXPECT_FALSE(HUDPanelLayout::truncates(156.5));
    EXPECT_FALSE(HUDPanelLayout::truncates(556.0));
    EXPECT_FALSE(HUDPanelLayout::truncates(560.0));
    EXPECT_TRUE(HUDPanelLayout::truncates(560.25));
    EXPECT_TRUE(HUDPanelLayout::truncates(2000));
    // Every text that fits has at least its own width in the label.
    for (double measured = 0; measured <= 560; measured += 0.37) {
        EXPECT_GE(HUDPanelLayout::labelWidth(HUDPanelLayout::panelWidth(measured)), measured)
            << measured;
    }
}

TEST(HUDPanelLayout, FrameSitsCentredAboveTheBottomOfTheAvailableArea) {
    // A monitor right of another, with a 30-pixel panel along its bottom.
    const PanelRect available{.x = 1280, .y = 0, .width = 1024, .height = 738};
    EXPECT_EQ(HUDPanelLayout::frameOnScreen(available, 254),
              (PanelRect{.x = 1280 + 385, .y = 738 - 112, .width = 254, .height = 56}));
    // A monitor above the primary one has negative coordinates.
    const PanelRect above{.x = 0, .y = -1080, .width = 1920, .height = 1080};
    EXPECT_EQ(HUDPanelLayout::frameOnScreen(above, 654),
              (PanelRect{.x = 633, .y = -112 - 0, .width = 654, .height = 56}));
}

TEST(HUDPanelLayout, TheScreenHoldingThePointerElseThePrimaryElseTheFirst) {
    const std::vector<PanelRect> screens{{0, 0, 1280, 800}, {1280, 0, 1024, 768}};
    EXPECT_EQ(HUDPanelLayout::screenFor(1280, 0, screens, 0), 1u);
    EXPECT_EQ(HUDPanelLayout::screenFor(1279, 799, screens, 1), 0u);
    // Below the smaller monitor is outside both.
    EXPECT_EQ(HUDPanelLayout::screenFor(1500, 790, screens, 1), 1u);
    EXPECT_EQ(HUDPanelLayout::screenFor(1500, 790, screens, std::nullopt), 0u);
    EXPECT_EQ(HUDPanelLayout::screenFor(1500, 790, screens, 7), 0u) << "stale primary index";
    EXPECT_EQ(HUDPanelLayout::screenFor(10, 10, {}, std::nullopt), std::nullopt);
    // Mirrored monitors: the first in the system's order.
    const std::vector<PanelRect> mirrored{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}};
    EXPECT_EQ(HUDPanelLayout::screenFor(500, 500, mirrored, 1), 0u);
}

}  // namespace
}  // namespace kestrune::hud
