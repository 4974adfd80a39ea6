#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"
#include "tests/support/ServerHarness.hpp"
#include "tests/support/TestPhone.hpp"

namespace kestrune::testing {
namespace {

TEST(AvahiUnavailable, TheServerRunsAnywayAndSaysWhyItIsNotAdvertised) {
    // A system bus that is not there: Avahi cannot be reached at all.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/murrelo-test-bus", 1);
    auto advertiser = std::make_shared<AvahiServiceAdvertiser>();
    ServerHarness harness(ServerHarness::Options{
        .configure =
            [](auto& configuration) { configuration.mdnsFingerprint = testIdentity().fingerprint; },
        .advertiser = advertiser});
    ASSERT_NE(harness.start(), 0);

    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (harness.server().advertisementStatus().state !=
               AdvertisementStatus::State::unavailable &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const auto status = harness.server().advertisementStatus();
    EXPECT_EQ(status.state, AdvertisementStatus::State::unavailable);
    EXPECT_FALSE(status.reason.empty());

    const auto [device, secret] = harness.pairDevice();
    auto phone = TestPhone::connect(harness.port(), testIdentity().fingerprint);
    ASSERT_TRUE(phone);
    EXPECT_TRUE(phone->authenticate(secret));
}

}  // namespace
}  // namespace kestrune::testing
