#include "Kestrune/link/Pairing.hpp"

#include <algorithm>

#include "KestruneRemoteKit/Support/Crypto.hpp"

namespace kestrune {

std::optional<PairingToken> PairingToken::random(Date now, std::chrono::seconds lifetime) {
    const auto bytes = secureRandomBytes(kRandomByteCount);
    if (!bytes) return std::nullopt;
    return PairingToken{hexLower(bytes->data(), bytes->size()), now + lifetime};
}

bool pairingCodesEqual(std::string_view presented, std::string_view expected) {
    const std::size_t length = std::max(presented.size(), expected.size());
    unsigned difference = presented.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < length; ++i) {
        const auto a = static_cast<unsigned char>(i < presented.size() ? presented[i] : 0);
        const auto b = static_cast<unsigned char>(i < expected.size() ? expected[i] : 0);
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0;
}

std::optional<PairingToken> PairingTokenStore::issue(Date now, std::chrono::seconds lifetime) {
    outstanding_ = PairingToken::random(now, lifetime);
    return outstanding_;
}

Result<void, PairingTokenStore::Failure> PairingTokenStore::consume(std::string_view presented,
                                                                    Date now) {
    if (!outstanding_) return Failure::noOutstandingToken;
    if (now >= outstanding_->expiresAt) {
        outstanding_.reset();
        return Failure::expired;
    }
    if (!pairingCodesEqual(presented, outstanding_->value)) return Failure::mismatch;
    outstanding_.reset();
    return {};
}

}  // namespace kestrune
