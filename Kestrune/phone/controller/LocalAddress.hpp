#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::LocalAddress {

// One IPv4 address of a network interface that is up and running.
struct Interface {
    std::string name;  // e.g. "eth0", "enp3s0", "wlan0"
    std::string ipv4;  // dotted decimal
    bool operator==(const Interface&) const = default;
};

// 10/8, 172.16/12 or 192.168/16: an address a phone on the same network can reach.
bool isPrivate(std::string_view ipv4);

// The address to put in the pairing code: among wired and Wi-Fi interfaces ("en…", "eth…",
// "wl…") that are not loopback or link-local, the primary interface's address, else the first
// private one, else the first one; none when there is no candidate.
std::optional<std::string> pick(const std::vector<Interface>& interfaces,
                                const std::optional<std::string>& primary);

}  // namespace kestrune::LocalAddress
