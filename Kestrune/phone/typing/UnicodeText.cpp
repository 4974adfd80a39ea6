#include "Kestrune/phone/typing/UnicodeText.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

namespace kestrune::unicode {

namespace {
constexpr char32_t kReplacementCharacter = 0xFFFD;
}

std::u32string decodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        if (length == 0 || i + length > text.size()) {
            out.push_back(kReplacementCharacter);
            ++i;
            continue;
        }
        char32_t scalar = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = true;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            scalar = (scalar << 6) | (next & 0x3F);
        }
        constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || scalar < smallest[length] || scalar > 0x10FFFF ||
            (scalar >= 0xD800 && scalar <= 0xDFFF)) {
            out.push_back(kReplacementCharacter);
            ++i;
            continue;
        }
        out.push_back(scalar);
        i += length;
    }
    return out;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string encodeUtf8(std::u32string_view scalars) {
    std::string out;
    out.reserve(scalars.size());
    for (char32_t c : scalars) appendUtf8(out, c);
    return out;
}

std::vector<std::u32string> graphemes(std::u32string_view scalars) {
    std::vector<std::u32string> result;
    if (scalars.empty()) return result;
    auto text = icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(scalars.data()),
                                              static_cast<int32_t>(scalars.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !breaks) {
        // Without break rules every scalar counts as its own character.
        for (char32_t c : scalars) result.emplace_back(1, c);
        return result;
    }
    breaks->setText(text);
    // Break positions are UTF-16 offsets; walk the scalars alongside them.
    std::size_t scalarIndex = 0;
    int32_t utf16Position = 0;
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        std::u32string cluster;
        while (utf16Position < end && scalarIndex < scalars.size()) {
            char32_t c = scalars[scalarIndex++];
            cluster.push_back(c);
            utf16Position += c > 0xFFFF ? 2 : 1;
        }
        result.push_back(std::move(cluster));
    }
    return result;
}

std::size_t characterCount(std::string_view utf8) {
    return graphemes(decodeUtf8(utf8)).size();
}

std::size_t utf16Length(std::u32string_view scalars) {
    std::size_t length = 0;
    for (char32_t c : scalars) length += c > 0xFFFF ? 2 : 1;
    return length;
}

bool isControl(char32_t scalar) {
    return u_charType(static_cast<UChar32>(scalar)) == U_CONTROL_CHAR;
}

bool isHorizontalWhitespace(char32_t scalar) {
    return scalar == U'\t' || u_charType(static_cast<UChar32>(scalar)) == U_SPACE_SEPARATOR;
}

}  // namespace kestrune::unicode
