#include "KestruneRemoteKit/Support/Uuid.hpp"

#include <cstring>
#include <string_view>

#include "KestruneRemoteKit/Support/Crypto.hpp"

namespace kestrune {

namespace {

// Offsets of the hyphens in "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
constexpr std::size_t kTextLength = 36;
constexpr bool isHyphenPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

std::optional<std::uint8_t> hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
}

}  // namespace

std::optional<Uuid> Uuid::random() {
    const auto random = secureRandomBytes(sizeof(Bytes));
    if (!random) return std::nullopt;
    Bytes bytes{};
    std::memcpy(bytes.data(), random->data(), bytes.size());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != kTextLength) return std::nullopt;
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            continue;
        }
        const auto value = hexDigitValue(text[i]);
        if (!value) return std::nullopt;
        auto& byte = bytes[nibble / 2];
        byte = static_cast<std::uint8_t>(nibble % 2 == 0 ? *value << 4 : byte | *value);
        ++nibble;
    }
    return Uuid(bytes);
}

std::string Uuid::uuidString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(kTextLength);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        out.push_back(kDigits[bytes_[i] >> 4]);
        out.push_back(kDigits[bytes_[i] & 0x0f]);
    }
    return out;
}

}  // namespace kestrune

std::size_t std::hash<kestrune::Uuid>::operator()(const kestrune::Uuid& id) const noexcept {
    // Random identifiers are uniformly distributed, so their leading bytes are a good hash.
    std::size_t value = 0;
    std::memcpy(&value, id.bytes().data(), sizeof(value));
    return value;
}
