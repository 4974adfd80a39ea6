#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/linux/clipboard-reader/SnapshotClipboardReader.hpp"
#include "tests/support/ClipboardTestSupport.hpp"
#include "tests/support/TestImages.hpp"

namespace kestrune {
namespace {

using testing::ClipboardSide;
using testing::makeImage;
using testing::offerWithXclip;
using testing::Pattern;
using Taken = OutgoingClipboard::Taken;
using Kind = OutgoingClipboard::Refusal::Kind;
using Representation = PasteboardSnapshot::Representation;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

Representation target(std::string type, const std::string& data, std::string encoding = {}) {
    if (encoding.empty()) encoding = type;
    return {std::move(type), std::move(encoding), 8, bytesOf(data)};
}

PasteboardSnapshot holding(PasteboardSnapshot::Item item) {
    PasteboardSnapshot snapshot;
    snapshot.items.push_back(std::move(item));
    return snapshot;
}

TEST(SnapshotClipboardReader, TextComesFromTheBestTextTargetAsUtf8) {
    const SnapshotClipboardReader latin1(holding({target("STRING", "caf\xe9", "STRING")}));
    EXPECT_EQ(latin1.text(), "café");

    const SnapshotClipboardReader both(
        holding({target("STRING", "caf\xe9", "STRING"),
                 target("text/plain;charset=utf-8", "café ✓"), target("UTF8_STRING", "other")}));
    EXPECT_EQ(both.text(), "café ✓");

    const SnapshotClipboardReader compound(
        holding({target("TEXT", "\x1b%G", "COMPOUND_TEXT"), target("UTF8_STRING", "plain")}));
    EXPECT_EQ(compound.text(), "plain");

    const SnapshotClipboardReader picture(holding({target("image/png", "png")}));
    EXPECT_EQ(picture.text(), std::nullopt);
    EXPECT_EQ(picture.types(), std::vector<std::string>{"image/png"});
    EXPECT_EQ(picture.data("image/png"), bytesOf("png"));
    EXPECT_EQ(picture.data("image/tiff"), std::nullopt);

    const SnapshotClipboardReader empty{PasteboardSnapshot{}};
    EXPECT_TRUE(empty.types().empty());
    EXPECT_EQ(empty.text(), std::nullopt);
}

// The clipboard another application set, as OutgoingClipboard takes it through the real reader.
class TakenFromX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        reader_ = std::make_unique<ClipboardSide>();
    }

    Result<Taken, OutgoingClipboard::Refusal> take() {
        return OutgoingClipboard::take(SnapshotClipboardReader(reader_->snapshot()));
    }

    std::unique_ptr<ClipboardSide> reader_;
};

TEST_F(TakenFromX11, ClipboardsSetByXclip) {
    ASSERT_TRUE(offerWithXclip("UTF8_STRING", "héllo ✓"));
    auto text = take();
    ASSERT_TRUE(text);
    EXPECT_EQ(text.value(), Taken{Taken::Text{"héllo ✓"}});

    const std::string png = makeImage(300, 200, ".png", Pattern::noise);
    ASSERT_TRUE(offerWithXclip("image/png", png));
    auto picture = take();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture.value(), (Taken{Taken::Image{bytesOf(png), ImageFormat::png}}));

    const std::string tiff = makeImage(20, 10, ".tif", Pattern::flat);
    ASSERT_TRUE(offerWithXclip("image/tiff", tiff));
    auto bitmap = take();
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap.value(), (Taken{Taken::Image{bytesOf(tiff), std::nullopt}}));

    ASSERT_TRUE(offerWithXclip("text/uri-list", "file:///home/me/photo.png\r\n"));
    auto file = take();
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().kind, Kind::file);
}

TEST_F(TakenFromX11, ClipboardsOfSeveralTargetsFromAnotherOwner) {
    ClipboardSide owner;
    owner.restore(holding({target("UTF8_STRING", "hunter2", "UTF8_STRING"),
                           target("x-kde-passwordManagerHint", "secret")}));
    auto password = take();
    ASSERT_TRUE(password);
    EXPECT_EQ(password.value(), Taken{Taken::Secret{"hunter2"}});

    owner.restore(holding(
        {target("UTF8_STRING", "", "UTF8_STRING"), target("x-kde-passwordManagerHint", "secret")}));
    auto emptyPassword = take();
    ASSERT_FALSE(emptyPassword);
    EXPECT_EQ(emptyPassword.error().kind, Kind::empty);

    const std::string png = makeImage(30, 20, ".png", Pattern::noise);
    const std::string tiff = makeImage(30, 20, ".tif", Pattern::noise);
    owner.restore(holding({target("UTF8_STRING", "caption", "UTF8_STRING"),
                           target("image/tiff", tiff), target("image/png", png)}));
    auto picture = take();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture.value(), (Taken{Taken::Image{bytesOf(png), ImageFormat::png}}));

    owner.restore(
        holding({target("text/uri-list", "file:///tmp/a.png\r\n"), target("image/png", png),
                 target("UTF8_STRING", "a.png", "UTF8_STRING")}));
    auto file = take();
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().kind, Kind::file);

    owner.restore(PasteboardSnapshot{});
    auto nothing = take();
    ASSERT_FALSE(nothing);
    EXPECT_EQ(nothing.error().kind, Kind::empty);
}

}  // namespace
}  // namespace kestrune
