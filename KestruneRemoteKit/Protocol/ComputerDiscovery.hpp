#pragma once

#include <optional>
#include <string_view>

namespace kestrune {

// How a phone finds its paired computer again on the local network.
struct ComputerDiscovery {
    static constexpr std::string_view serviceType = "_kestrune._tcp";
    // TXT record key holding the certificate fingerprint.
    static constexpr std::string_view fingerprintKey = "fp";

    // Whether a browse result whose TXT record has `txtFingerprint` under fingerprintKey (none
    // when it has no such entry) is the computer pinned at pairing. Letter case does not matter.
    static bool matchesPinnedFingerprint(std::optional<std::string_view> txtFingerprint,
                                         std::string_view pinnedFingerprint);
};

}  // namespace kestrune
