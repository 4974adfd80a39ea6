#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// Standard alphabet with "=" padding, one line.
std::string base64Encoded(std::span<const std::uint8_t> bytes);

// Writes the encoding of `bytes` to `out`, which must hold base64EncodedLength(bytes.size()).
void base64EncodeInto(std::span<const std::uint8_t> bytes, char* out);
std::size_t base64EncodedLength(std::size_t byteCount);

// Strict reading: the length is a multiple of four, every character is in the alphabet, "=" only
// as one or two final padding characters, and the bits a padding leaves over are zero (so each
// byte sequence has exactly one accepted text). Whitespace and line breaks are refused.
std::optional<std::vector<std::uint8_t>> base64Decoded(std::string_view text);

}  // namespace kestrune
