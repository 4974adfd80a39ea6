#include "Kestrune/common/Trimming.hpp"

#include <utility>

namespace kestrune {

namespace {

// White space and line breaks as people mean them: the control characters tab to carriage return,
// next line, and every Unicode space and line or paragraph separator (categories Zs, Zl, Zp).
bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The code point that starts at `at` and its length; a broken sequence counts as one
// non-space byte, so damaged text is never trimmed into.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte < 0x80           ? 1
                         : (byte >> 5) == 0x6  ? 2
                         : (byte >> 4) == 0xE  ? 3
                         : (byte >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || at + length > text.size()) return {0xFFFD, 1};
    char32_t c = length == 1 ? byte : byte & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return {0xFFFD, 1};
        c = (c << 6) | (next & 0x3F);
    }
    constexpr char32_t kShortestForLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kShortestForLength[length]) return {0xFFFD, 1};
    return {c, length};
}

}  // namespace

std::string_view trimmedWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto [c, length] = decodeAt(text, begin);
        if (!isWhitespaceOrNewline(c)) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        // Step back over continuation bytes to the start of the last code point.
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        const auto [c, length] = decodeAt(text, start);
        if (start + length != end || !isWhitespaceOrNewline(c)) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

}  // namespace kestrune
