#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/phone/controller/LocalAddress.hpp"

namespace kestrune::net {

// The IPv4 addresses of interfaces that are up and running (getifaddrs), in the system's order;
// empty when they cannot be listed.
std::vector<LocalAddress::Interface> currentInterfaces();

// The interface of the default route, read from /proc/net/route; none without one.
std::optional<std::string> primaryInterface();

// The same from the text of a route table in the kernel's format: among the default routes that
// are up, the one with the lowest metric.
std::optional<std::string> defaultRouteInterface(std::string_view routeTable);

}  // namespace kestrune::net
