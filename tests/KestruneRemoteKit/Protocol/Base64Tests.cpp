#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/Base64.hpp"

namespace kestrune {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Base64, StandardVectorsEncodeAndDecode) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8="},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encoded(bytesOf(plain)), encoded);
        EXPECT_EQ(base64Decoded(encoded), bytesOf(plain)) << encoded;
    }
}

TEST(Base64, RefusesAnythingButCanonicalSingleLineText) {
    const std::string_view refused[] = {
        "Zg=",           // length not a multiple of four
        "Zg",            // padding left out
        "Zm9v\n",        // trailing line break
        "Zm9v\r\nZm9v",  // line-wrapped
        " Zm9v",         // leading space
        "Zm9 v",         // inner space
        "Zm-v",          // URL-safe alphabet
        "Zm_v",          // URL-safe alphabet
        "Z===",          // three padding characters
        "====",          // padding only
        "Zg==Zm9v",      // padding in the middle
        "Zm=v",          // padding before a data character
        "Zh==",          // leftover bits not zero
        "Zm9=",          // leftover bits not zero
        "Zm9v\xC3\xA9"
        "AA",  // non-ASCII
        std::string_view("Zm\0v", 4),
    };
    for (std::string_view text : refused) {
        EXPECT_EQ(base64Decoded(text), std::nullopt) << "accepted: " << text;
    }
}

TEST(Base64, RoundTripsEveryLengthAndEveryByteValue) {
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 400; ++length) {
        std::vector<std::uint8_t> bytes(length);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        const std::string text = base64Encoded(bytes);
        ASSERT_EQ(text.size() % 4, 0u);
        ASSERT_EQ(base64Decoded(text), bytes) << "length " << length;
    }
    std::vector<std::uint8_t> everyValue(256 * 300);
    for (std::size_t i = 0; i < everyValue.size(); ++i) {
        everyValue[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    EXPECT_EQ(base64Decoded(base64Encoded(everyValue)), everyValue);
}

// Long texts take the vector path; a bad character in any lane or block must still be seen.
TEST(Base64, FindsAForeignCharacterAtEveryPositionOfALongText) {
    std::vector<std::uint8_t> bytes(240);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37);
    const std::string valid = base64Encoded(bytes);
    ASSERT_EQ(base64Decoded(valid), bytes);
    const char foreign[] = {'\n',   ' ',    '=',    '-', '_', '*', '.', '\0',
                            '\x7F', '\x80', '\xFF', '@', '[', '`', '{', ':'};
    for (std::size_t pos = 0; pos < valid.size(); ++pos) {
        for (char bad : foreign) {
            // "=" as the very last character can make another valid text.
            if (bad == '=' && pos == valid.size() - 1) continue;
            std::string text = valid;
            text[pos] = bad;
            ASSERT_EQ(base64Decoded(text), std::nullopt)
                << "position " << pos << " char " << static_cast<int>(bad);
        }
    }
}

}  // namespace
}  // namespace kestrune
