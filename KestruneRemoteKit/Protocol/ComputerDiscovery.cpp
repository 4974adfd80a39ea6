#include "KestruneRemoteKit/Protocol/ComputerDiscovery.hpp"

#include <algorithm>

namespace kestrune {
namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool ComputerDiscovery::matchesPinnedFingerprint(std::optional<std::string_view> txtFingerprint,
                                                 std::string_view pinnedFingerprint) {
    // An empty pin would otherwise accept any service that advertises an empty entry.
    if (!txtFingerprint || pinnedFingerprint.empty()) return false;
    // Fingerprints are hexadecimal, so ASCII case folding is all the comparison needs.
    return std::ranges::equal(*txtFingerprint, pinnedFingerprint,
                              [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

}  // namespace kestrune
