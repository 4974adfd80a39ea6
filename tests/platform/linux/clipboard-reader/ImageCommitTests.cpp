#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/support/ClipboardTestSupport.hpp"
#include "tests/support/TestImages.hpp"

namespace kestrune {
namespace {

using testing::clipboardData;
using testing::ClipboardSide;
using testing::clipboardTargets;
using testing::makeImage;
using testing::Pattern;

bool offers(const std::string& target) {
    const auto targets = clipboardTargets();
    return std::find(targets.begin(), targets.end(), target) != targets.end();
}

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class ImageCommit : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
    }
};

TEST_F(ImageCommit, OtherApplicationsGetTheReceivedBytesAndTheTiff) {
    ClipboardSide side;
    // A small picture goes in one piece; a noisy 800 × 600 one is served incrementally.
    for (const auto& [bytes, type] :
         {std::pair{makeImage(64, 48, ".png", Pattern::noise), std::string("image/png")},
          std::pair{makeImage(800, 600, ".png", Pattern::noise), std::string("image/png")},
          std::pair{makeImage(320, 240, ".jpg", Pattern::noise), std::string("image/jpeg")}}) {
        SCOPED_TRACE(type + " of " + std::to_string(bytes.size()) + " bytes");
        const auto picture = ClipboardImage::prepare(bytes, ReceivedImageDelivery::kMaxPixels);
        ASSERT_TRUE(picture);
        EXPECT_EQ(side.commit(*picture), std::nullopt);
        EXPECT_TRUE(offers(type));
        EXPECT_TRUE(offers("image/tiff"));
        EXPECT_FALSE(offers("UTF8_STRING")) << "the previous contents are replaced";
        EXPECT_TRUE(clipboardData(type) == bytes);
        EXPECT_TRUE(clipboardData("image/tiff") == text(picture->tiff));
    }
}

TEST_F(ImageCommit, CommitReplacesTextCopiedBefore) {
    ClipboardSide side;
    ASSERT_TRUE(testing::offerWithXclip("UTF8_STRING", "copied before"));
    const auto picture =
        ClipboardImage::prepare(makeImage(16, 16, ".png", Pattern::flat), 1'000'000);
    ASSERT_TRUE(picture);
    EXPECT_EQ(side.commit(*picture), std::nullopt);
    EXPECT_TRUE(offers("image/png"));
    EXPECT_FALSE(offers("UTF8_STRING"));
}

TEST_F(ImageCommit, NoDisplayMeansTheWriteFailsAsTooLarge) {
    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    {
        ClipboardSide side;
        const auto picture =
            ClipboardImage::prepare(makeImage(16, 16, ".png", Pattern::flat), 1'000'000);
        ASSERT_TRUE(picture);
        EXPECT_EQ(side.commit(*picture), RemoteError::imageTooLarge);
    }
    setenv("DISPLAY", display.c_str(), 1);
}

}  // namespace
}  // namespace kestrune
