#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// A 128-bit identifier (RFC 4122). Paired phones and pairing requests are named by these; the text
// form is the canonical hyphenated one in upper case, as stored in files and shown in logs.
class Uuid {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // The nil identifier (all zero).
    Uuid() = default;
    explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // A random (version 4) identifier; none when the secure random source fails, because an
    // identifier made from weaker randomness could collide with one already handed out.
    static std::optional<Uuid> random();

    // Reads the hyphenated 8-4-4-4-12 form in either letter case; none for anything else.
    static std::optional<Uuid> parse(std::string_view text);

    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }

    auto operator<=>(const Uuid&) const = default;

  private:
    Bytes bytes_{};
};

}  // namespace kestrune

template <>
struct std::hash<kestrune::Uuid> {
    std::size_t operator()(const kestrune::Uuid& id) const noexcept;
};
