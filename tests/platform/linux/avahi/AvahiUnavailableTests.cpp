#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"
#include "tests/support/ServerHarness.hpp"
#include "tests/support/TestPhone.hpp"
#include "tests/support/WaitUntil.hpp"

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

    waitUntil([&] {
        return harness.server().advertisementStatus().state ==
               AdvertisementStatus::State::unavailable;
    });
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
