#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// How long a code shown in the pairing link stays valid: long enough to scan it, short enough
// that a photographed code is useless soon after.
inline constexpr std::chrono::seconds kPairingTokenLifetime{60};

// The one-time code that lets a phone ask the user for pairing.
struct PairingToken {
    // 20 random bytes (160 bits) cannot be guessed within the code's lifetime.
    static constexpr std::size_t kRandomByteCount = 20;

    // 40 lower-case hexadecimal characters.
    std::string value;
    Date expiresAt;

    // A new code expiring at now + lifetime; none when the secure random source fails (a code is
    // never made from anything weaker).
    static std::optional<PairingToken> random(Date now, std::chrono::seconds lifetime);

    bool operator==(const PairingToken&) const = default;
};

// Compares two codes so that the time taken depends only on the longer length, never on where
// they differ: every byte pair is looked at (the shorter one padded with zeros) and a length
// difference counts as a mismatch.
bool pairingCodesEqual(std::string_view presented, std::string_view expected);

// Holds the single outstanding code. Used only on the server's queue.
class PairingTokenStore {
  public:
    enum class Failure { noOutstandingToken, expired, mismatch };

    const std::optional<PairingToken>& outstanding() const { return outstanding_; }

    // Makes a new code that replaces any outstanding one. When no code can be made, the old one
    // is forgotten as well (the caller asked for it to be replaced) and none is returned.
    std::optional<PairingToken> issue(Date now,
                                      std::chrono::seconds lifetime = kPairingTokenLifetime);

    void invalidate() { outstanding_.reset(); }

    // Accepts and spends the code. An expired code is forgotten; a wrong one leaves the right one
    // usable until it expires.
    [[nodiscard]] Result<void, Failure> consume(std::string_view presented, Date now);

  private:
    std::optional<PairingToken> outstanding_;
};

}  // namespace kestrune
