#include <gtest/gtest.h>

#include <climits>

#include "KestruneRemoteKit/L10n/TextFormat.hpp"

namespace kestrune {
namespace {

TEST(TextFormat, FillsSequentialAndPositionalPlaceholders) {
    EXPECT_EQ(formatText("Port %d was taken, now on port %d.", {49999, 50000}),
              "Port 49999 was taken, now on port 50000.");
    EXPECT_EQ(formatText("端口 %1$d 已被占用，现在改用端口 %2$d。", {49999, 50000}),
              "端口 49999 已被占用，现在改用端口 50000。");
    EXPECT_EQ(formatText("%2$s then %1$s", {"first", "second"}), "second then first");
    EXPECT_EQ(formatText("Pair “%s”?", {std::string("Ana’s phone")}), "Pair “Ana’s phone”?");
}

TEST(TextFormat, NumbersArePlainDecimalDigits) {
    EXPECT_EQ(formatText("%d", {100000}), "100000");
    EXPECT_EQ(formatText("%d", {-7}), "-7");
    EXPECT_EQ(formatText("%d", {std::uint64_t{18446744073709551615ULL}}), "18446744073709551615");
    EXPECT_EQ(formatText("%d", {LLONG_MIN}), "-9223372036854775808");
}

TEST(TextFormat, LeavesOtherPercentSequencesAndMissingValuesVisible) {
    EXPECT_EQ(formatText("100%% done", {}), "100% done");
    EXPECT_EQ(formatText("50% off %x %", {}), "50% off %x %");
    EXPECT_EQ(formatText("%s and %s", {"one"}), "one and %s");
    EXPECT_EQ(formatText("%3$s", {"a", "b"}), "%3$s");
    // A value that itself looks like a placeholder is inserted as text, never expanded again.
    EXPECT_EQ(formatText("%s / %s", {"%s", "x"}), "%s / x");
}

TEST(TextFormat, PlaceholdersCompareAcrossWordOrders) {
    EXPECT_EQ(formatPlaceholders("Port %d was taken, now on port %d."),
              formatPlaceholders("端口 %1$d 已被占用，现在改用端口 %2$d。"));
    EXPECT_NE(formatPlaceholders("%d of %s"), formatPlaceholders("%s of %d"));
    EXPECT_NE(formatPlaceholders("%s"), formatPlaceholders("%s %s"));
    EXPECT_TRUE(formatPlaceholders("100%% sure").empty());
}

}  // namespace
}  // namespace kestrune
