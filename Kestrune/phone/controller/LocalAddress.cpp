#include "Kestrune/phone/controller/LocalAddress.hpp"

#include <charconv>

namespace kestrune::LocalAddress {

namespace {

// Linux names of wired ("en…" by udev, "eth…" by the kernel) and Wi-Fi ("wl…") interfaces; VPN
// tunnels, bridges and containers' interfaces do not lead to the user's phone.
bool isLocalNetworkName(std::string_view name) {
    return name.starts_with("en") || name.starts_with("eth") || name.starts_with("wl");
}

std::vector<int> numericParts(std::string_view ipv4) {
    std::vector<int> parts;
    while (true) {
        const auto dot = ipv4.find('.');
        const auto part = ipv4.substr(0, dot);
        int value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (!part.empty() && error == std::errc() && end == part.data() + part.size()) {
            parts.push_back(value);
        }
        if (dot == std::string_view::npos) break;
        ipv4.remove_prefix(dot + 1);
    }
    return parts;
}

}  // namespace

bool isPrivate(std::string_view ipv4) {
    const auto parts = numericParts(ipv4);
    if (parts.size() != 4) return false;
    return parts[0] == 10 || (parts[0] == 192 && parts[1] == 168) ||
           (parts[0] == 172 && parts[1] >= 16 && parts[1] <= 31);
}

std::optional<std::string> pick(const std::vector<Interface>& interfaces,
                                const std::optional<std::string>& primary) {
    std::vector<const Interface*> candidates;
    for (const auto& candidate : interfaces) {
        if (!isLocalNetworkName(candidate.name)) continue;
        if (candidate.ipv4.starts_with("127.") || candidate.ipv4.starts_with("169.254.")) continue;
        candidates.push_back(&candidate);
    }
    if (primary) {
        for (const auto* candidate : candidates) {
            if (candidate->name == *primary) return candidate->ipv4;
        }
    }
    for (const auto* candidate : candidates) {
        if (isPrivate(candidate->ipv4)) return candidate->ipv4;
    }
    if (!candidates.empty()) return candidates.front()->ipv4;
    return std::nullopt;
}

}  // namespace kestrune::LocalAddress
