#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(std::string_view bytes);

// Lower-case hexadecimal of the SHA-256 of `bytes`: the certificate fingerprint and secret hashes.
std::string sha256Hex(std::string_view bytes);

std::string hexLower(const std::uint8_t* bytes, std::size_t count);

// Bytes from the operating system's secure generator; none if it cannot deliver.
std::optional<std::vector<std::uint8_t>> secureRandomBytes(std::size_t count);

// Compares without an early exit, so timing does not reveal how much of a secret matched.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace kestrune
