#include <gtest/gtest.h>
#include <unicode/unistr.h>

#include "Kestrune/link/RemoteSession.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {
namespace {

std::string repeat(std::string_view piece, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += piece;
    return out;
}

std::size_t scalarCount(const std::string& utf8) {
    return static_cast<std::size_t>(icu::UnicodeString::fromUTF8(utf8).countChar32());
}

TEST(SanitizeTest, RemovesInvisibleAndLayoutCharactersAndTrimsSpaces) {
    struct Case {
        const char* label;
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"plain", "Anna's Pixel", "Anna's Pixel"},
        {"controls anywhere", "\x01Pi\txel\x7f\n", "Pixel"},
        {"format characters (BOM, zero-width joiner, bidi override)",
         "\xEF\xBB\xBFPi\xE2\x80\x8Dxel\xE2\x80\xAE", "Pixel"},
        {"line and paragraph separators", "Pi\xE2\x80\xA8xel\xE2\x80\xA9", "Pixel"},
        {"unassigned code point U+0378", "Pi\xCD\xB8xel", "Pixel"},
        {"space separators at both ends: NBSP, ideographic, thin",
         "\xC2\xA0\xE3\x80\x80 Pixel 7\xE2\x80\x89 ", "Pixel 7"},
        {"tab next to a space is trimmed", " \t Pixel\t ", "Pixel"},
        {"inner spaces stay", "My  Phone", "My  Phone"},
        {"spaces revealed by removing controls are trimmed", "\x01 \x02Pixel\n \n", "Pixel"},
        {"private use characters stay", "\xEE\x80\x80", "\xEE\x80\x80"},
        {"ill-formed UTF-8 is dropped", "Pi\xC3xel\xFF", "Pixel"},
        {"emoji with a skin tone is kept", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
         "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(RemoteSession::sanitize(c.input), c.expected);
    }
}

TEST(SanitizeTest, EmptyResultBecomesTheLocalizedDefault) {
    const std::string unnamed = localized("Unnamed Device");
    ASSERT_FALSE(unnamed.empty());
    for (const std::string input :
         {"", "   ", "\x01\x02\t\n \r", "\xE2\x80\x8B\xE2\x80\x8B", "\xFF\xFE"}) {
        EXPECT_EQ(RemoteSession::sanitize(input), unnamed);
    }
}

TEST(SanitizeTest, KeepsAtMostSixtyFourCharacters) {
    EXPECT_EQ(RemoteSession::sanitize(std::string(70, 'a')), std::string(64, 'a'));
    EXPECT_EQ(RemoteSession::sanitize(std::string(64, 'b')), std::string(64, 'b'));
    // Characters, not scalars or bytes: "e" + combining acute is one character of two scalars.
    const std::string accented = "e\xCC\x81";
    EXPECT_EQ(RemoteSession::sanitize(repeat(accented, 70)), repeat(accented, 64));
    // A flag is one character made of two regional indicators (8 bytes).
    const std::string flag = "\xF0\x9F\x87\xAF\xF0\x9F\x87\xB5";
    EXPECT_EQ(RemoteSession::sanitize(repeat(flag, 65)), repeat(flag, 64));
}

TEST(SanitizeTest, StopsAtTheCharacterThatWouldPassTwoHundredFiftySixScalars) {
    // Each character: a base letter with four combining marks, five scalars.
    const std::string heavy = "a\xCC\x81\xCC\x82\xCC\x83\xCC\x84";
    const std::string result = RemoteSession::sanitize(repeat(heavy, 60));
    EXPECT_EQ(result, repeat(heavy, 51));
    EXPECT_EQ(scalarCount(result), 255u);

    // 256 scalars exactly are allowed.
    const std::string exact = repeat(heavy, 51) + "z";
    EXPECT_EQ(RemoteSession::sanitize(exact), exact);

    // A single character longer than the limit leaves nothing, so the default name is used.
    const std::string giant = "a" + repeat("\xCC\x81", 300);
    EXPECT_EQ(RemoteSession::sanitize(giant), localized("Unnamed Device"));
    EXPECT_EQ(RemoteSession::sanitize("ok" + giant), "ok");
}

TEST(SanitizeTest, LongInputIsHandled) {
    // A frame-sized name of spaces around a short word.
    const std::string padded = std::string(200'000, ' ') + "Pixel" + std::string(50'000, ' ');
    EXPECT_EQ(RemoteSession::sanitize(padded), "Pixel");
}

}  // namespace
}  // namespace kestrune
