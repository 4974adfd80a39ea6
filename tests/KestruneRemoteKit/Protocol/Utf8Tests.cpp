#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "KestruneRemoteKit/Protocol/Utf8.hpp"

namespace kestrune::detail {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

TEST(Utf8, AcceptsOnlyWellFormedSequences) {
    const std::string_view valid[] = {
        "",
        "plain ASCII longer than eight bytes",
        "\xC3\xA9",
        "\xE2\x82\xAC",
        "\xF0\x9F\x98\x80",
        "\xF4\x8F\xBF\xBF",
        "\xED\x9F\xBF",  // U+10FFFF, U+D7FF
    };
    const std::string_view invalid[] = {
        "\xC0\x80",          // overlong NUL
        "\xE0\x80\x80",      // overlong
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xF5\x80\x80\x80",  // lead byte that never occurs
        "\x80",              // lone continuation
        "\xE2\x82",          // cut short
        "12345678\xFF",      // after the ASCII fast path
    };
    for (std::string_view text : valid) EXPECT_TRUE(isValidUtf8(text)) << text;
    for (std::string_view text : invalid) EXPECT_FALSE(isValidUtf8(text)) << text;
}

TEST(Utf8, RepairReplacesEachMaximalIllFormedPartOnce) {
    const std::string r(kReplacement);
    EXPECT_EQ(repairedUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(repairedUtf8("a\xFF"
                           "b"),
              "a" + r + "b");
    EXPECT_EQ(repairedUtf8("\xE2\x82"
                           "x"),
              r + "x");                                       // one part, one replacement
    EXPECT_EQ(repairedUtf8("\xF0\x9F\x98"), r);               // cut-short emoji
    EXPECT_EQ(repairedUtf8("\xED\xA0\x80"), r + r + r);       // surrogate: no valid prefix
    EXPECT_EQ(repairedUtf8("\xC3\xC3\xA9"), r + "\xC3\xA9");  // a lead byte interrupted
    EXPECT_TRUE(isValidUtf8(repairedUtf8("\x80\xBF\xF8\xFE\xC1\xBF\xE0\x9F\xBF")));
}

TEST(Utf8, PairingLinksWithBrokenBytesAreReadAsText) {
    const std::string fingerprint(64, 'a');
    const std::string link = "kestrune://pair?h=mac&p=1&f=" + fingerprint + "&t=x\xFFy&n=N\xC3";
    const auto decoded = PairingPayload::decode(link);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->token, "x" + std::string(kReplacement) + "y");
    EXPECT_EQ(decoded->name, "N" + std::string(kReplacement));
    const auto again = PairingPayload::decode(decoded->encoded());
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value(), decoded.value());
}

}  // namespace
}  // namespace kestrune::detail
