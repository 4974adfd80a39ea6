#include "KestruneRemoteKit/Support/Crypto.hpp"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace kestrune {

Sha256Digest sha256(std::string_view bytes) {
    Sha256Digest digest{};
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
    return digest;
}

std::string hexLower(const std::uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(count * 2, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0f];
    }
    return out;
}

std::string sha256Hex(std::string_view bytes) {
    const auto digest = sha256(bytes);
    return hexLower(digest.data(), digest.size());
}

std::optional<std::vector<std::uint8_t>> secureRandomBytes(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    if (count > 0 && RAND_bytes(out.data(), static_cast<int>(count)) != 1) return std::nullopt;
    return out;
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace kestrune
