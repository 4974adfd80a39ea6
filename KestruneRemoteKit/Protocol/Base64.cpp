#include "KestruneRemoteKit/Protocol/Base64.hpp"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define KESTRUNE_BASE64_AVX2 1
#endif

namespace kestrune {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Marks a character outside the alphabet; lies above the 24 bits a quantum of four yields.
constexpr std::uint32_t kInvalid = 0xFF000000u;

// One table per position in a quantum of four, holding the six bits already shifted into place,
// so a quantum decodes with four loads and three ors, and one test validates all four characters.
constexpr std::array<std::uint32_t, 256> makeDecodeTable(int shift) {
    std::array<std::uint32_t, 256> table{};
    for (auto& entry : table) entry = kInvalid;
    for (std::uint32_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i << shift;
    }
    return table;
}
constexpr auto kDecode0 = makeDecodeTable(18);
constexpr auto kDecode1 = makeDecodeTable(12);
constexpr auto kDecode2 = makeDecodeTable(6);
constexpr auto kDecode3 = makeDecodeTable(0);

// The two characters for every 12-bit group, so encoding takes two lookups per three bytes.
constexpr std::array<std::array<char, 2>, 4096> makePairTable() {
    std::array<std::array<char, 2>, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3F]};
    return table;
}
constexpr auto kEncodePairs = makePairTable();

std::uint32_t decodeQuantum(const unsigned char* in) {
    return kDecode0[in[0]] | kDecode1[in[1]] | kDecode2[in[2]] | kDecode3[in[3]];
}

// Decodes whole quanta without padding; returns false at the first character outside the alphabet.
bool decodeQuantaScalar(const unsigned char* in, std::size_t quanta, std::uint8_t* out) {
    for (std::size_t q = 0; q < quanta; ++q, in += 4, out += 3) {
        const std::uint32_t bits = decodeQuantum(in);
        if (bits & kInvalid) return false;
        out[0] = static_cast<std::uint8_t>(bits >> 16);
        out[1] = static_cast<std::uint8_t>(bits >> 8);
        out[2] = static_cast<std::uint8_t>(bits);
    }
    return true;
}

#ifdef KESTRUNE_BASE64_AVX2
// Characters per AVX2 step; a step decodes them to 24 bytes but stores a whole 32-byte register.
constexpr std::size_t kAvx2Chars = 32;
constexpr std::size_t kAvx2StoreBytes = 32;

// Validates and translates 32 characters per step with nibble lookups, then packs the 6-bit values
// into 24 bytes (the classic pshufb method). Returns how many characters it consumed; the caller
// finishes the rest (and re-checks a block that failed, to keep one place that decides validity).
__attribute__((target("avx2"))) std::size_t decodeAvx2(const unsigned char* in, std::size_t length,
                                                       std::uint8_t* out) {
    const __m256i lutLo =
        _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                         0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                         0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i lutHi =
        _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                         0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i lutRoll =
        _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                         -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i mask2F = _mm256_set1_epi8(0x2F);
    const __m256i mergePairs = _mm256_set1_epi32(0x01400140);
    const __m256i mergeQuads = _mm256_set1_epi32(0x00011000);
    const __m256i packBytes =
        _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                         10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i packLanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, -1, -1);

    std::size_t consumed = 0;
    // The over-long store must land inside the output still owed for the remaining characters.
    while ((length - consumed) / 4 * 3 >= kAvx2StoreBytes) {
        __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + consumed));
        const __m256i hiNibbles = _mm256_and_si256(_mm256_srli_epi32(chars, 4), mask2F);
        const __m256i loNibbles = _mm256_and_si256(chars, mask2F);
        const __m256i lo = _mm256_shuffle_epi8(lutLo, loNibbles);
        const __m256i hi = _mm256_shuffle_epi8(lutHi, hiNibbles);
        if (!_mm256_testz_si256(lo, hi)) break;
        const __m256i isSlash = _mm256_cmpeq_epi8(chars, mask2F);
        const __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(isSlash, hiNibbles));
        chars = _mm256_add_epi8(chars, roll);
        const __m256i pairs = _mm256_maddubs_epi16(chars, mergePairs);
        __m256i packed = _mm256_madd_epi16(pairs, mergeQuads);
        packed = _mm256_shuffle_epi8(packed, packBytes);
        packed = _mm256_permutevar8x32_epi32(packed, packLanes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + consumed / 4 * 3), packed);
        consumed += kAvx2Chars;
    }
    return consumed;
}

bool cpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

std::size_t base64EncodedLength(std::size_t byteCount) {
    return (byteCount + 2) / 3 * 4;
}

void base64EncodeInto(std::span<const std::uint8_t> bytes, char* out) {
    const std::uint8_t* in = bytes.data();
    std::size_t remaining = bytes.size();
    for (; remaining >= 3; remaining -= 3, in += 3, out += 4) {
        const std::uint32_t bits =
            (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        std::memcpy(out, kEncodePairs[bits >> 12].data(), 2);
        std::memcpy(out + 2, kEncodePairs[bits & 0xFFF].data(), 2);
    }
    if (remaining == 0) return;
    const std::uint32_t bits =
        (std::uint32_t{in[0]} << 16) | (remaining == 2 ? std::uint32_t{in[1]} << 8 : 0);
    out[0] = kAlphabet[bits >> 18];
    out[1] = kAlphabet[(bits >> 12) & 0x3F];
    out[2] = remaining == 2 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
    out[3] = '=';
}

std::string base64Encoded(std::span<const std::uint8_t> bytes) {
    std::string text(base64EncodedLength(bytes.size()), '\0');
    base64EncodeInto(bytes, text.data());
    return text;
}

std::optional<std::vector<std::uint8_t>> base64Decoded(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return std::vector<std::uint8_t>{};

    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t padding = text.back() != '=' ? 0 : text[text.size() - 2] != '=' ? 1 : 2;
    // The last quantum is decoded on its own because it may carry padding.
    const std::size_t bodyChars = text.size() - 4;
    std::vector<std::uint8_t> bytes(bodyChars / 4 * 3 + 3 - padding);

    std::size_t done = 0;
#ifdef KESTRUNE_BASE64_AVX2
    static const bool useAvx2 = cpuHasAvx2();
    if (useAvx2) done = decodeAvx2(in, bodyChars, bytes.data());
#endif
    if (!decodeQuantaScalar(in + done, (bodyChars - done) / 4, bytes.data() + done / 4 * 3)) {
        return std::nullopt;
    }

    const unsigned char* last = in + bodyChars;
    // Padding positions read as "A", the character for zero bits.
    const unsigned char zeroBits = 'A';
    const unsigned char lastQuantum[4] = {last[0], last[1], padding == 2 ? zeroBits : last[2],
                                          padding >= 1 ? zeroBits : last[3]};
    const std::uint32_t bits = decodeQuantum(lastQuantum);
    if (bits & kInvalid) return std::nullopt;
    std::uint8_t* out = bytes.data() + bodyChars / 4 * 3;
    out[0] = static_cast<std::uint8_t>(bits >> 16);
    if (padding == 2) {
        if (bits & 0xFFFF) return std::nullopt;  // leftover bits must be zero
    } else {
        out[1] = static_cast<std::uint8_t>(bits >> 8);
        if (padding == 1) {
            if (bits & 0xFF) return std::nullopt;
        } else {
            out[2] = static_cast<std::uint8_t>(bits);
        }
    }
    return bytes;
}

}  // namespace kestrune
