#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::unicode {

// Code points of UTF-8 text; malformed sequences become U+FFFD, so text from the network is
// always handled as well-formed.
std::u32string decodeUtf8(std::string_view text);
std::string encodeUtf8(std::u32string_view scalars);
void appendUtf8(std::string& out, char32_t scalar);

// The user-perceived characters (extended grapheme clusters) of the text.
std::vector<std::u32string> graphemes(std::u32string_view scalars);
std::size_t characterCount(std::string_view utf8);

std::size_t utf16Length(std::u32string_view scalars);

// General category Cc.
bool isControl(char32_t scalar);
// General category Zs, or tab: what trimming removes at both ends.
bool isHorizontalWhitespace(char32_t scalar);

}  // namespace kestrune::unicode
