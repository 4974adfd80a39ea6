#include <set>
#include <string>

#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/RemoteError.hpp"

namespace kestrune {
namespace {

TEST(RemoteError, EveryWireStringMapsBackToItsCaseAndOnlyExactly) {
    std::set<std::string> seen;
    for (RemoteError error : kAllRemoteErrors) {
        const std::string raw(rawValue(error));
        EXPECT_TRUE(seen.insert(raw).second) << "duplicate wire string " << raw;
        EXPECT_EQ(remoteErrorFromRaw(raw), error);

        std::string upper = raw;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(remoteErrorFromRaw(upper), std::nullopt) << upper;
        EXPECT_EQ(remoteErrorFromRaw(raw + " "), std::nullopt);
    }
    EXPECT_EQ(seen.size(), 18u);
    EXPECT_EQ(remoteErrorFromRaw(""), std::nullopt);
    EXPECT_EQ(remoteErrorFromRaw("tokenInvalid"), std::nullopt);
}

TEST(RemoteError, WireStringsAreTheSnakeCaseNames) {
    EXPECT_EQ(rawValue(RemoteError::tokenInvalid), "token_invalid");
    EXPECT_EQ(rawValue(RemoteError::awaitingApproval), "awaiting_approval");
    EXPECT_EQ(rawValue(RemoteError::accessibilityMissing), "accessibility_missing");
    EXPECT_EQ(rawValue(RemoteError::notPasswordField), "not_password_field");
    EXPECT_EQ(rawValue(RemoteError::imageSaveFailed), "image_save_failed");
}

TEST(RemoteError, ExactlySixCodesCloseTheConnection) {
    const std::set<RemoteError> closing = {
        RemoteError::unauthenticated, RemoteError::tokenInvalid,  RemoteError::tokenExpired,
        RemoteError::pairingRejected, RemoteError::unknownDevice, RemoteError::internal};
    for (RemoteError error : kAllRemoteErrors) {
        EXPECT_EQ(closesConnection(error), closing.contains(error)) << rawValue(error);
    }
}

}  // namespace
}  // namespace kestrune
