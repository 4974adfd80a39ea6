#include "KestruneRemoteKit/Protocol/Utf8.hpp"

#include <cstdint>
#include <cstring>

namespace kestrune::detail {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct SequenceScan {
    std::size_t matched;  // leading bytes that fit a well-formed sequence
    std::size_t needed;   // bytes the lead byte announces; 0 for a byte that cannot lead
};

// Follows the Unicode standard's table of well-formed byte sequences: no overlong forms, no
// surrogates, nothing above U+10FFFF.
SequenceScan scanSequence(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return {1, 1};
    std::size_t needed = 0;
    unsigned secondLo = 0x80, secondHi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 3;
        if (lead == 0xE0) secondLo = 0xA0;
        if (lead == 0xED) secondHi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 4;
        if (lead == 0xF0) secondLo = 0x90;
        if (lead == 0xF4) secondHi = 0x8F;
    } else {
        return {0, 0};
    }
    std::size_t matched = 1;
    while (matched < needed && pos + matched < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos + matched]);
        const unsigned lo = matched == 1 ? secondLo : 0x80;
        const unsigned hi = matched == 1 ? secondHi : 0xBF;
        if (byte < lo || byte > hi) break;
        ++matched;
    }
    return {matched, needed};
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Plain ASCII, the common case, eight bytes at a time.
        if (pos + 8 <= text.size()) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + pos, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                pos += 8;
                continue;
            }
        }
        const SequenceScan scan = scanSequence(text, pos);
        if (scan.needed == 0 || scan.matched != scan.needed) return false;
        pos += scan.matched;
    }
    return true;
}

std::string repairedUtf8(std::string_view text) {
    if (isValidUtf8(text)) return std::string(text);
    std::string repaired;
    repaired.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const SequenceScan scan = scanSequence(text, pos);
        if (scan.needed != 0 && scan.matched == scan.needed) {
            repaired.append(text.substr(pos, scan.matched));
        } else {
            // One replacement per maximal ill-formed part, as the Unicode standard recommends.
            repaired.append(kReplacementCharacter);
        }
        pos += scan.matched == 0 ? 1 : scan.matched;
    }
    return repaired;
}

}  // namespace kestrune::detail
