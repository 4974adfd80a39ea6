#include <gtest/gtest.h>

#include <map>

#include "Kestrune/phone/images/ClipboardImage.hpp"
#include "Kestrune/phone/images/OutgoingClipboard.hpp"
#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "tests/support/TestImages.hpp"

namespace kestrune {
namespace {

using testing::makeImage;
using testing::Pattern;
using Kind = OutgoingClipboard::Refusal::Kind;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

class FakeClipboard final : public ClipboardReader {
  public:
    FakeClipboard& with(std::string type, std::string_view data) {
        order_.push_back(type);
        data_[std::move(type)] = bytesOf(data);
        return *this;
    }
    FakeClipboard& withText(std::string text) {
        text_ = std::move(text);
        return with("text/plain;charset=utf-8", *text_);
    }
    std::vector<std::string> types() const override { return order_; }
    std::optional<Bytes> data(std::string_view type) const override {
        const auto found = data_.find(std::string(type));
        return found == data_.end() ? std::nullopt : std::optional<Bytes>(found->second);
    }
    std::optional<std::string> text() const override { return text_; }

  private:
    std::vector<std::string> order_;
    std::map<std::string, Bytes> data_;
    std::optional<std::string> text_;
};

OutgoingClipboard::Taken taken(const ClipboardReader& clipboard) {
    auto result = OutgoingClipboard::take(clipboard);
    EXPECT_TRUE(result) << static_cast<int>(result.ok() ? Kind::empty : result.error().kind);
    return result ? result.value() : OutgoingClipboard::Taken{};
}

Kind refusal(const ClipboardReader& clipboard) {
    auto result = OutgoingClipboard::take(clipboard);
    EXPECT_FALSE(result);
    return result ? Kind::empty : result.error().kind;
}

TEST(OutgoingClipboard, ConcealedPasswordsAreSecretsNeverText) {
    FakeClipboard password;
    password.withText("hunter2").with("x-kde-passwordManagerHint", "secret");
    EXPECT_EQ(
        taken(password).value,
        (decltype(OutgoingClipboard::Taken::value){OutgoingClipboard::Taken::Secret{"hunter2"}}));

    FakeClipboard emptyPassword;
    emptyPassword.withText("").with("x-kde-passwordManagerHint", "secret");
    EXPECT_EQ(refusal(emptyPassword), Kind::empty);
}

TEST(OutgoingClipboard, FilesAreRefusedAndPicturesWinOverText) {
    FakeClipboard file;
    file.with("text/uri-list", "file:///home/ana/a.png\r\n")
        .with("image/png", "png")
        .withText("a.png");
    EXPECT_EQ(refusal(file), Kind::file);

    FakeClipboard both;
    both.withText("caption").with("image/tiff", "tiff").with("image/png", "png");
    EXPECT_EQ(taken(both).value,
              (decltype(OutgoingClipboard::Taken::value){
                  OutgoingClipboard::Taken::Image{bytesOf("png"), ImageFormat::png}}));

    FakeClipboard tiffOnly;
    tiffOnly.with("image/tiff", "tiff");
    EXPECT_EQ(taken(tiffOnly).value,
              (decltype(OutgoingClipboard::Taken::value){
                  OutgoingClipboard::Taken::Image{bytesOf("tiff"), std::nullopt}}));

    EXPECT_EQ(refusal(FakeClipboard()), Kind::empty);
}

TEST(OutgoingClipboard, TextLimitsCountCharactersFirstThenBytes) {
    auto tooLong = OutgoingClipboard::checkedText(std::string(100'001, 'a'));
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error(), (OutgoingClipboard::Refusal{Kind::textTooLong, 100'001}));
    EXPECT_NE(tooLong.error().message().find("100001"), std::string::npos);

    EXPECT_TRUE(OutgoingClipboard::checkedText(std::string(100'000, 'a')));

    // Four-byte scalars alone cannot pass 4 MiB within 100,000 characters; characters built of
    // many scalars can: a letter with 25 combining accents is one character of 51 bytes.
    std::string accented;
    for (int i = 0; i < 100'000; ++i) {
        accented += 'a';
        for (int mark = 0; mark < 25; ++mark) accented += "\xCC\x81";  // U+0301
    }
    const auto tooLarge = OutgoingClipboard::checkedText(accented);
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error().kind, Kind::textTooLarge);

    std::string wide;
    for (int i = 0; i < 100'000; ++i) wide += "\xF0\x9D\x90\x80";  // U+1D400, 4 bytes
    EXPECT_TRUE(OutgoingClipboard::checkedText(wide));
}

TEST(OutgoingClipboard, PicturesAreSentUnchangedOnlyWhenAskedAndAllowed) {
    const std::string png = makeImage(64, 48, ".png", Pattern::noise);
    const OutgoingClipboard::Taken pngTaken{
        OutgoingClipboard::Taken::Image{bytesOf(png), ImageFormat::png}};

    const auto original = OutgoingClipboard::prepare(pngTaken, true);
    ASSERT_TRUE(original);
    EXPECT_EQ(original.value(), Outbox::Content::image(bytesOf(png), ImageFormat::png));

    const auto compressed = OutgoingClipboard::prepare(pngTaken, false);
    ASSERT_TRUE(compressed);
    EXPECT_NE(compressed.value(), original.value());

    // TIFF has no wire format: re-encoded even when the original was asked for.
    const std::string tiff = makeImage(64, 48, ".tif", Pattern::noise);
    const auto fromTiff = OutgoingClipboard::prepare(
        {OutgoingClipboard::Taken::Image{bytesOf(tiff), std::nullopt}}, true);
    ASSERT_TRUE(fromTiff);
    EXPECT_EQ(fromTiff.value(), Outbox::Content::image(ImageCompressor::prepare(tiff, true)->data,
                                                       ImageFormat::jpeg));

    const auto unreadable = OutgoingClipboard::prepare(
        {OutgoingClipboard::Taken::Image{bytesOf("not a picture"), ImageFormat::png}}, true);
    EXPECT_EQ(unreadable.error().kind, Kind::imageUnreadable);
}

TEST(OutgoingClipboard, PictureSizeLimitIsInclusive) {
    const std::string png = makeImage(64, 48, ".png", Pattern::noise);
    const OutgoingClipboard::Taken image{
        OutgoingClipboard::Taken::Image{bytesOf(png), ImageFormat::png}};
    EXPECT_TRUE(OutgoingClipboard::prepare(image, true, static_cast<std::int64_t>(png.size())));
    EXPECT_EQ(OutgoingClipboard::prepare(image, true, static_cast<std::int64_t>(png.size()) - 1)
                  .error()
                  .kind,
              Kind::imageTooLarge);
}

TEST(OutgoingClipboard, PicturesOverThePixelLimitAreNeverSentUnchanged) {
    const std::string huge = makeImage(8000, 7600, ".jpg", Pattern::flat);  // 60.8 MP
    const auto prepared = OutgoingClipboard::prepare(
        {OutgoingClipboard::Taken::Image{bytesOf(huge), ImageFormat::jpeg}}, true);
    ASSERT_TRUE(prepared);
    EXPECT_NE(prepared.value(), Outbox::Content::image(bytesOf(huge), ImageFormat::jpeg));
}

TEST(ClipboardImage, GivesTheOriginalItsTypeAndATiffOfTheSamePicture) {
    const std::string jpeg = makeImage(120, 80, ".jpg", Pattern::noise, {6, false});
    const auto prepared = ClipboardImage::prepare(jpeg, 60'000'000);
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->original, bytesOf(jpeg));
    EXPECT_EQ(prepared->type, "image/jpeg");
    const std::string tiff(prepared->tiff.begin(), prepared->tiff.end());
    const auto header = ImageCompressor::readHeader(tiff);
    ASSERT_TRUE(header);
    // The rendering is upright: the quarter turn is in its pixels.
    EXPECT_EQ(header->width, 80);
    EXPECT_EQ(header->height, 120);

    EXPECT_EQ(ClipboardImage::prepare(makeImage(10, 10, ".png", Pattern::flat), 100)->type,
              "image/png");
}

TEST(ClipboardImage, RefusesOtherTypesTooManyPixelsAndBrokenData) {
    EXPECT_FALSE(ClipboardImage::prepare(makeImage(10, 10, ".tif", Pattern::flat), 60'000'000));
    EXPECT_FALSE(ClipboardImage::prepare(makeImage(10, 10, ".png", Pattern::flat), 99));
    EXPECT_FALSE(ClipboardImage::prepare("garbage", 60'000'000));
    const std::string jpeg = makeImage(200, 200, ".jpg", Pattern::noise);
    EXPECT_FALSE(ClipboardImage::prepare(jpeg.substr(0, jpeg.size() / 2), 60'000'000));
}

}  // namespace
}  // namespace kestrune
