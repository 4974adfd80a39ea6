// The interface facts that choose the address in a pairing code.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/linux/net/NetworkInterfaces.hpp"

namespace kestrune {
namespace {

TEST(NetworkInterfaces, DefaultRouteChoosesTheLowestMetric) {
    const std::string table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "tun0\t00000000\t00000000\t0000\t0\t0\t1\t00000000\t0\t0\t0\n"
        "enp3s0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "enp3s0\t0000000A\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n";
    EXPECT_EQ(net::defaultRouteInterface(table), "enp3s0") << "tun0's route is down";
    EXPECT_EQ(
        net::defaultRouteInterface("Iface\tDestination\tGateway\n"
                                   "eth0\t0000000A\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n"),
        std::nullopt)
        << "no default route";
    EXPECT_EQ(net::defaultRouteInterface("Iface\nbroken line\n\tZZ\n"), std::nullopt);
    EXPECT_EQ(net::defaultRouteInterface(""), std::nullopt);
}

TEST(NetworkInterfaces, InterfacesIncludeLoopback) {
    const auto interfaces = net::currentInterfaces();
    EXPECT_NE(
        std::find(interfaces.begin(), interfaces.end(), LocalAddress::Interface{"lo", "127.0.0.1"}),
        interfaces.end());
}

}  // namespace
}  // namespace kestrune
