#include "platform/linux/net/NetworkInterfaces.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netdb.h>
#include <sys/socket.h>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>

namespace kestrune::net {

namespace {

// The route table has a line per route; a few hundred lines is already a router, not a desktop.
constexpr std::size_t kMaxRouteTableBytes = 1 << 20;

std::optional<std::uint32_t> hexField(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> decimalField(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::vector<LocalAddress::Interface> currentInterfaces() {
    std::vector<LocalAddress::Interface> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_RUNNING) == 0) continue;
        char host[NI_MAXHOST];
        if (::getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                          NI_NUMERICHOST) != 0) {
            continue;
        }
        found.push_back({entry->ifa_name, host});
    }
    ::freeifaddrs(list);
    return found;
}

std::optional<std::string> defaultRouteInterface(std::string_view routeTable) {
    std::istringstream lines{std::string(routeTable)};
    std::string line;
    std::getline(lines, line);  // the column titles
    std::optional<std::string> best;
    auto bestMetric = std::numeric_limits<std::uint32_t>::max();
    while (std::getline(lines, line)) {
        std::istringstream columns(line);
        std::string name, destination, gateway, flags, references, use, metric, mask;
        if (!(columns >> name >> destination >> gateway >> flags >> references >> use >> metric >>
              mask)) {
            continue;
        }
        const auto destinationValue = hexField(destination);
        const auto maskValue = hexField(mask);
        const auto flagBits = hexField(flags);
        const auto metricValue = decimalField(metric);
        if (!destinationValue || !maskValue || !flagBits || !metricValue) continue;
        if (*destinationValue != 0 || *maskValue != 0 || (*flagBits & RTF_UP) == 0) continue;
        if (!best || *metricValue < bestMetric) {
            best = name;
            bestMetric = *metricValue;
        }
    }
    return best;
}

std::optional<std::string> primaryInterface() {
    std::ifstream file("/proc/net/route");
    if (!file) return std::nullopt;
    std::string table(kMaxRouteTableBytes, '\0');
    file.read(table.data(), static_cast<std::streamsize>(table.size()));
    table.resize(static_cast<std::size_t>(file.gcount()));
    return defaultRouteInterface(table);
}

}  // namespace kestrune::net
