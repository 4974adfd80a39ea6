// The pure decisions of Phone Connection: lifecycle, send-to-phone policy, address choice, titles.
#include <gtest/gtest.h>

#include "Kestrune/phone/controller/LocalAddress.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/controller/RemoteInputLifecycle.hpp"
#include "Kestrune/phone/controller/SendToPhoneServicePolicy.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {
namespace {

using L = RemoteInputLifecycle;
using Action = L::Action;
using Origin = L::Origin;
using Stop = RemoteInputServer::StopReason;

L lifecycle(L::State state, Origin origin = Origin::user) {
    L result;
    result.state = state;
    result.origin = origin;
    return result;
}

class Texts : public ::testing::Test {
  protected:
    Texts() { L10n::shared().setLanguageOverride("en"); }
    ~Texts() override { L10n::shared().setLanguageOverride(std::nullopt); }
};

TEST_F(Texts, LifecycleTurnOnAndOff) {
    auto off = lifecycle(L::Off{}, Origin::automatic);
    EXPECT_EQ(off.turnOn(true, Origin::user), L::Actions{Action::start()});
    EXPECT_EQ(off.state, L::State(L::Starting{false, true}));
    EXPECT_EQ(off.origin, Origin::user);

    auto on = lifecycle(L::On{9000});
    EXPECT_EQ(on.turnOn(true, Origin::user), L::Actions{Action::showPairing()});
    EXPECT_EQ(on.turnOn(false, Origin::user), L::Actions{});
    EXPECT_EQ(on.turnOff(), L::Actions{Action::stop()});
    EXPECT_EQ(on.state, L::State(L::On{9000})) << "stays on until the server reports its stop";

    // A turn-on while starting cancels a waiting stop, keeps a pairing request, and makes an
    // automatic start the user's; an automatic one never takes it back.
    auto starting = lifecycle(L::Starting{true, true}, Origin::automatic);
    EXPECT_EQ(starting.turnOn(false, Origin::automatic), L::Actions{});
    EXPECT_EQ(starting.state, L::State(L::Starting{false, true}));
    EXPECT_EQ(starting.origin, Origin::automatic);
    EXPECT_EQ(starting.turnOn(false, Origin::user), L::Actions{});
    EXPECT_EQ(starting.origin, Origin::user);
    EXPECT_EQ(starting.turnOff(), L::Actions{});
    EXPECT_EQ(starting.state, L::State(L::Starting{true, true}));

    auto alreadyOff = lifecycle(L::Off{});
    EXPECT_EQ(alreadyOff.turnOff(), L::Actions{});
}

TEST_F(Texts, LifecycleStartOutcomes) {
    auto plain = lifecycle(L::Starting{false, false});
    EXPECT_EQ(plain.startedOnPort(50000), L::Actions{});
    EXPECT_EQ(plain.state, L::State(L::On{50000}));
    auto pairing = lifecycle(L::Starting{false, true});
    EXPECT_EQ(pairing.startedOnPort(1), L::Actions{Action::showPairing()});
    auto stopping = lifecycle(L::Starting{true, true});
    EXPECT_EQ(stopping.startedOnPort(1), L::Actions{Action::stop()}) << "the stop wins";
    auto notStarting = lifecycle(L::Off{});
    EXPECT_EQ(notStarting.startedOnPort(1), L::Actions{});
    EXPECT_EQ(notStarting.state, L::State(L::Off{}));

    auto user = lifecycle(L::Starting{false, false});
    EXPECT_EQ(user.startFailed("port busy"),
              L::Actions{Action::alert("Phone Connection could not start", "port busy")});
    EXPECT_EQ(user.state, L::State(L::Off{}));
    auto automatic = lifecycle(L::Starting{false, false}, Origin::automatic);
    EXPECT_EQ(automatic.startFailed("port busy"), L::Actions{Action::noteFailure("port busy")});
    auto unwanted = lifecycle(L::Starting{true, false});
    EXPECT_EQ(unwanted.startFailed("port busy"), L::Actions{}) << "nobody wants to hear it";
    EXPECT_EQ(unwanted.state, L::State(L::Off{}));
    auto running = lifecycle(L::On{3});
    EXPECT_EQ(running.startFailed("late"), L::Actions{});
    EXPECT_EQ(running.state, L::State(L::On{3}));
}

TEST_F(Texts, LifecycleStops) {
    for (const auto& reason : {Stop::requested(), Stop::idle()}) {
        auto on = lifecycle(L::On{1});
        EXPECT_EQ(on.stopped(reason), L::Actions{});
        EXPECT_EQ(on.state, L::State(L::Off{}));
    }
    auto user = lifecycle(L::On{1});
    EXPECT_EQ(user.stopped(Stop::failed("network down")),
              L::Actions{Action::alert("Phone Connection stopped", "network down")});
    auto automatic = lifecycle(L::On{1}, Origin::automatic);
    EXPECT_EQ(automatic.stopped(Stop::failed("network down")),
              L::Actions{Action::noteFailure("network down")});
    auto starting = lifecycle(L::Starting{false, false});
    EXPECT_EQ(starting.stopped(Stop::failed("x")), L::Actions{});
    EXPECT_EQ(starting.state, L::State(L::Starting{false, false}));
}

TEST(SendToPhonePolicy, OpensForSendingAndClosesWhenDelivered) {
    using P = SendToPhoneServicePolicy;
    P policy;
    EXPECT_EQ(policy.itemSent(L::Off{}), P::Actions{P::Action::turnOn});
    EXPECT_TRUE(policy.openedForSending);
    EXPECT_EQ(policy.outboxChanged(1, L::On{5}), P::Actions{});
    EXPECT_EQ(policy.outboxChanged(0, L::Starting{}), P::Actions{});
    EXPECT_EQ(policy.outboxChanged(0, L::On{5}), P::Actions{P::Action::turnOff});

    P keepsStarting;
    EXPECT_EQ(keepsStarting.itemSent(L::Starting{false, false}), P::Actions{});
    EXPECT_FALSE(keepsStarting.openedForSending);
    EXPECT_EQ(keepsStarting.itemSent(L::Starting{true, false}), P::Actions{P::Action::turnOn});
    EXPECT_TRUE(keepsStarting.openedForSending);

    // Sent while the stop was on its way: the connection comes back once it is down.
    P stopping;
    stopping.stopInFlight = true;
    EXPECT_EQ(stopping.itemSent(L::On{5}), P::Actions{});
    EXPECT_TRUE(stopping.sentDuringStop);
    EXPECT_EQ(stopping.serviceStopped(1), P::Actions{P::Action::turnOn});
    EXPECT_TRUE(stopping.openedForSending);
    EXPECT_FALSE(stopping.stopInFlight);
    EXPECT_FALSE(stopping.sentDuringStop);
    // … unless the item was delivered meanwhile.
    stopping.sentDuringStop = true;
    EXPECT_EQ(stopping.serviceStopped(0), P::Actions{});
    EXPECT_FALSE(stopping.openedForSending);

    P user;
    EXPECT_EQ(user.outboxChanged(0, L::On{5}), P::Actions{}) << "the user's own connection stays";
}

TEST(LocalAddressPick, FollowsTheRules) {
    using LocalAddress::Interface;
    using LocalAddress::pick;
    EXPECT_EQ(pick({{"en0", "192.168.1.20"}, {"en5", "10.0.0.7"}}, "en5"), "10.0.0.7");
    EXPECT_EQ(pick({{"en0", "169.254.3.3"}, {"en1", "172.20.1.4"}}, std::nullopt), "172.20.1.4");
    EXPECT_EQ(pick({{"en0", "203.0.113.5"}}, std::nullopt), "203.0.113.5");
    EXPECT_EQ(pick({{"eth0", "203.0.113.5"}, {"wlan0", "192.168.0.9"}}, std::nullopt),
              "192.168.0.9")
        << "a private address before a public one";
    EXPECT_EQ(pick({{"eth0", "203.0.113.5"}, {"wlan0", "192.168.0.9"}}, "eth0"), "203.0.113.5")
        << "the primary interface before a private address";
    EXPECT_EQ(
        pick({{"lo", "127.0.0.1"}, {"tun0", "10.8.0.2"}, {"docker0", "172.17.0.1"}}, std::nullopt),
        std::nullopt);
    EXPECT_EQ(pick({{"en0", "127.0.0.2"}}, "en0"), std::nullopt);
    EXPECT_EQ(pick({{"tun0", "10.8.0.2"}, {"enp3s0", "192.168.4.4"}}, "tun0"), "192.168.4.4");
    EXPECT_EQ(pick({}, std::nullopt), std::nullopt);

    EXPECT_TRUE(LocalAddress::isPrivate("10.1.2.3"));
    EXPECT_TRUE(LocalAddress::isPrivate("172.16.0.1"));
    EXPECT_TRUE(LocalAddress::isPrivate("172.31.255.255"));
    EXPECT_TRUE(LocalAddress::isPrivate("192.168.0.1"));
    EXPECT_FALSE(LocalAddress::isPrivate("172.32.0.1"));
    EXPECT_FALSE(LocalAddress::isPrivate("172.15.0.1"));
    EXPECT_FALSE(LocalAddress::isPrivate("192.169.0.1"));
    EXPECT_FALSE(LocalAddress::isPrivate("11.0.0.1"));
    EXPECT_FALSE(LocalAddress::isPrivate("10.0.0"));
    EXPECT_FALSE(LocalAddress::isPrivate("10.0.0.1.5"));
    EXPECT_TRUE(LocalAddress::isPrivate("10.x.0.1.5")) << "only the numeric parts count";
}

TEST_F(Texts, MenuTitles) {
    using C = RemoteInputController;
    EXPECT_EQ(C::toggleTitle(L::Off{}, false, std::nullopt), "Phone Connection");
    EXPECT_EQ(C::toggleTitle(L::Off{}, false, "\n\nAddress in use\nmore detail"),
              "Phone Connection — Address in use");
    EXPECT_EQ(C::toggleTitle(L::Starting{true, false}, false, std::nullopt),
              "Phone Connection — starting… will turn off as soon as it is up");
    EXPECT_EQ(C::toggleTitle(L::Starting{false, true}, false, std::nullopt),
              "Phone Connection — starting…");
    EXPECT_EQ(C::toggleTitle(L::On{50000}, true, "x"),
              "Phone Connection — on to send, turns off when delivered (port 50000)");
    EXPECT_EQ(C::toggleTitle(L::On{50000}, false, "moved"),
              "Phone Connection — port 50000 (changed — paired phones must pair again)");
    EXPECT_EQ(C::toggleTitle(L::On{50000}, false, std::nullopt), "Phone Connection — port 50000");
    EXPECT_EQ(C::waitingTitle(3, false), "3 waiting for your phone");
    EXPECT_EQ(C::waitingTitle(1200, true),
              "1200 waiting for your phone — turn on Phone Connection to deliver");

    // Characters, not bytes: 60 fit, 61 become 59 and an ellipsis.
    const std::string sixty(60, 'a');
    EXPECT_EQ(C::shortened(sixty), sixty);
    std::string ideographs;
    for (int i = 0; i < 61; ++i) ideographs += "端";
    std::string kept;
    for (int i = 0; i < 59; ++i) kept += "端";
    EXPECT_EQ(C::shortened(ideographs + "\r\nsecond"), kept + "…");
}

}  // namespace
}  // namespace kestrune
