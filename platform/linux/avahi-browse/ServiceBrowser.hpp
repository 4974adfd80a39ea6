#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// One service found on the local network and resolved to an address.
struct BrowsedService {
    std::string name;
    std::string hostName;
    std::string address;  // textual IPv4 or IPv6 address
    std::uint16_t port = 0;
    std::map<std::string, std::string> txt;

    bool operator==(const BrowsedService&) const = default;
};

struct BrowseResult {
    std::vector<BrowsedService> services;
    std::optional<std::string> error;  // set when the Avahi daemon could not be asked
};

// Browses the default domain for services of `type` (e.g. "_kestrune._tcp") through the Avahi
// daemon for `duration`, resolving each one found; blocks the calling thread meanwhile.
BrowseResult browseServices(std::string_view type, std::chrono::milliseconds duration);

}  // namespace kestrune
