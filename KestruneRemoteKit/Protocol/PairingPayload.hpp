#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// What a phone needs to find, recognise and pair with this computer, carried by one link
// (shown as a QR code): kestrune://pair?h=…&p=…&f=…&t=…&n=…
struct PairingPayload {
    static constexpr std::string_view scheme = "kestrune";
    static constexpr std::string_view kLinkPrefix = "kestrune://pair?";
    // Names are cut to this many characters (grapheme clusters) so they fit the phone's list.
    static constexpr std::size_t kMaxNameLength = 40;

    struct Failure {
        enum class Kind { missingField, wrongScheme, badHost, badPort, badFingerprint };
        Kind kind = Kind::wrongScheme;
        std::string key;  // missingField: the link key ("h", "p", "f" or "t")

        static Failure missingField(std::string key) {
            return {Kind::missingField, std::move(key)};
        }
        static Failure wrongScheme() { return {Kind::wrongScheme, {}}; }
        static Failure badHost() { return {Kind::badHost, {}}; }
        static Failure badPort() { return {Kind::badPort, {}}; }
        static Failure badFingerprint() { return {Kind::badFingerprint, {}}; }
        bool operator==(const Failure&) const = default;
    };

    std::string host;
    std::uint16_t port = 0;
    std::string fingerprint;  // SHA-256 of the certificate, 64 hexadecimal characters
    std::string token;        // the one-time pairing code
    std::optional<std::string> name;

    // The name is cleaned with sanitizedName; a name that cleans to nothing becomes none.
    PairingPayload(std::string host, std::uint16_t port, std::string fingerprint, std::string token,
                   std::optional<std::string_view> name = std::nullopt);

    std::string encoded() const;
    static Result<PairingPayload, Failure> decode(std::string_view link);

    // Host names and dotted IPv4 addresses: labels of ASCII letters, digits and inner hyphens.
    static bool isConnectableHost(std::string_view host);

    // Without control and format characters, trimmed, at most kMaxNameLength characters; none
    // when nothing is left.
    static std::optional<std::string> sanitizedName(std::string_view name);

    bool operator==(const PairingPayload&) const = default;
};

}  // namespace kestrune
