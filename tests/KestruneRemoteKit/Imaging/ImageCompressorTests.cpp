#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "tests/support/TestImages.hpp"

namespace kestrune {
namespace {

using testing::ExifTags;
using testing::makeImage;
using testing::Pattern;

std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

void expectNoMetadata(const PreparedImage& image) {
    const auto header = ImageCompressor::readHeader(asString(image.data));
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->hasLocation);
    EXPECT_EQ(header->orientation, 1);
    // No APP1 segment at all: neither EXIF nor XMP survives a re-encoding.
    EXPECT_EQ(asString(image.data).find("Exif"), std::string::npos);
}

TEST(ImageCompressor, LargeJpegIsScaledToTheLongestSideAndLosesItsMetadata) {
    const auto source = makeImage(4000, 3000, ".jpg", Pattern::noise, ExifTags{1, true});
    ASSERT_TRUE(ImageCompressor::readHeader(source)->hasLocation);

    const auto prepared = ImageCompressor::prepare(source, true);
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->format, ImageFormat::jpeg);
    EXPECT_EQ(prepared->width, 2048);
    EXPECT_EQ(prepared->height, 1536);
    EXPECT_EQ(prepared->originalBytes, static_cast<std::int64_t>(source.size()));
    expectNoMetadata(*prepared);
}

TEST(ImageCompressor, UncompressedWirePicturesTravelUnchanged) {
    struct Case {
        const char* suffix;
        ImageFormat format;
    };
    for (const Case& c : {Case{".jpg", ImageFormat::jpeg}, Case{".png", ImageFormat::png},
                          Case{".heic", ImageFormat::heic}}) {
        SCOPED_TRACE(c.suffix);
        const auto source = makeImage(640, 480, c.suffix, Pattern::noise);
        const auto prepared = ImageCompressor::prepare(source, false);
        ASSERT_TRUE(prepared);
        EXPECT_EQ(asString(prepared->data), source);
        EXPECT_EQ(prepared->format, c.format);
        EXPECT_EQ(prepared->width, 640);
        EXPECT_EQ(prepared->height, 480);
        EXPECT_FALSE(prepared->originalBytes);
    }
}

TEST(ImageCompressor, SmallPicturesAreNeverEnlarged) {
    const auto prepared =
        ImageCompressor::prepare(makeImage(1000, 800, ".jpg", Pattern::noise), true);
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->width, 1000);
    EXPECT_EQ(prepared->height, 800);
}

TEST(ImageCompressor, QuarterTurnOrientationSwapsSizeAndIsBakedIntoReencodings) {
    const auto source = makeImage(4032, 3024, ".jpg", Pattern::flat, ExifTags{6, false});

    const auto unchanged = ImageCompressor::prepare(source, false);
    ASSERT_TRUE(unchanged);
    EXPECT_EQ(asString(unchanged->data), source);
    EXPECT_EQ(unchanged->width, 3024);
    EXPECT_EQ(unchanged->height, 4032);

    const auto reencoded = ImageCompressor::prepare(source, true);
    ASSERT_TRUE(reencoded);
    EXPECT_EQ(reencoded->width, 1536);
    EXPECT_EQ(reencoded->height, 2048);
    expectNoMetadata(*reencoded);
}

TEST(ImageCompressor, LosslessPngStaysUnlessItCarriesALocation) {
    const auto plain = makeImage(300, 200, ".png", Pattern::flat);
    const auto kept = ImageCompressor::prepare(plain, true);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->format, ImageFormat::png);
    EXPECT_EQ(asString(kept->data), plain);
    EXPECT_FALSE(kept->originalBytes);

    const auto located = makeImage(300, 200, ".png", Pattern::flat, ExifTags{0, true});
    ASSERT_TRUE(ImageCompressor::readHeader(located)->hasLocation);
    const auto stripped = ImageCompressor::prepare(located, true);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->format, ImageFormat::jpeg);
    EXPECT_EQ(stripped->originalBytes, static_cast<std::int64_t>(located.size()));
    expectNoMetadata(*stripped);

    // A noisy PNG compresses better as JPEG, so it is re-encoded.
    const auto noisy = ImageCompressor::prepare(makeImage(300, 200, ".png", Pattern::noise), true);
    ASSERT_TRUE(noisy);
    EXPECT_EQ(noisy->format, ImageFormat::jpeg);
}

TEST(ImageCompressor, TransparentPicturesAreFlattenedForJpeg) {
    const auto prepared =
        ImageCompressor::prepare(makeImage(400, 300, ".png", Pattern::noise, {}, true), true);
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->format, ImageFormat::jpeg);
    EXPECT_EQ(prepared->width, 400);
}

TEST(ImageCompressor, PicturesOverThePixelLimitAreAlwaysReencoded) {
    const auto source = makeImage(8000, 8000, ".jpg", Pattern::flat);
    const auto prepared = ImageCompressor::prepare(source, false);
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->format, ImageFormat::jpeg);
    EXPECT_EQ(prepared->width, 2048);
    EXPECT_EQ(prepared->height, 2048);
    EXPECT_EQ(prepared->originalBytes, static_cast<std::int64_t>(source.size()));

    // The limit is the caller's: the same rule at a small scale, and exactly at the limit.
    const auto small = makeImage(100, 100, ".png", Pattern::noise);
    EXPECT_EQ(ImageCompressor::prepare(small, false, 9'999)->format, ImageFormat::jpeg);
    EXPECT_EQ(ImageCompressor::prepare(small, false, 10'000)->format, ImageFormat::png);
}

TEST(ImageCompressor, OtherFormatsAreReencodedEvenWithoutCompression) {
    for (const char* suffix : {".tif", ".gif"}) {
        SCOPED_TRACE(suffix);
        const auto source = makeImage(320, 240, suffix, Pattern::noise);
        const auto header = ImageCompressor::readHeader(source);
        ASSERT_TRUE(header);
        EXPECT_FALSE(header->format);
        const auto prepared = ImageCompressor::prepare(source, false);
        ASSERT_TRUE(prepared);
        EXPECT_EQ(prepared->format, ImageFormat::jpeg);
        EXPECT_EQ(prepared->width, 320);
        EXPECT_TRUE(prepared->originalBytes);
    }
}

TEST(ImageCompressor, BytesThatAreNotAPictureGiveNothing) {
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    const auto jpeg = makeImage(640, 480, ".jpg", Pattern::noise);
    for (const std::string& bytes : {std::string(), std::string("hello"), noise, jpeg.substr(0, 20),
                                     std::string("\x89PNG\r\n")}) {
        EXPECT_FALSE(ImageCompressor::prepare(bytes, true));
        EXPECT_FALSE(ImageCompressor::prepare(bytes, false));
    }
    // A JPEG cut after its header still has a size: unchanged it goes as it is, and re-encoding
    // it must not crash whatever the decoder makes of the missing data.
    const auto truncated = jpeg.substr(0, jpeg.size() / 2);
    EXPECT_TRUE(ImageCompressor::prepare(truncated, false));
    ImageCompressor::prepare(truncated, true);
}

TEST(ImageCompressor, SummaryShowsSizeAndDimensions) {
    EXPECT_EQ(ImageCompressor::summary(1024, 768, 245'000), "1024 × 768 · 245 KB");
    EXPECT_EQ(ImageCompressor::summary(10, 10, 999), "10 × 10 · 999 bytes");
    EXPECT_EQ(ImageCompressor::summary(4000, 3000, 3'400'000), "4000 × 3000 · 3.4 MB");
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// Inputs that once stopped the process, kept beside the fuzzer's seeds.
TEST(ImageCompressor, FormerCrashInputsAreHandled) {
    const std::filesystem::path corpus =
        std::filesystem::path(MURRELO_SOURCE_DIR) / "fuzz/imaging/corpus/fuzz_image_prepare";
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.path().filename().string().starts_with("regression-")) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        for (const bool compress : {true, false}) {
            const auto prepared = ImageCompressor::prepare(bytes, compress);
            if (prepared) {
                EXPECT_GT(prepared->width, 0) << entry.path();
            }
        }
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

}  // namespace
}  // namespace kestrune
