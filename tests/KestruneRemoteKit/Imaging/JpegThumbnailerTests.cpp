#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"
#include "KestruneRemoteKit/Imaging/JpegThumbnailer.hpp"
#include "KestruneRemoteKit/Imaging/LanczosResampler.hpp"
#include "tests/support/TestImages.hpp"

namespace kestrune {
namespace {

using testing::decodePicture;
using testing::ExifTags;
using testing::makeImage;
using testing::Pattern;

std::string asString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Mean absolute difference, in 8-bit levels, allowed against libvips's own thumbnail of the full
// decode. Decoding at a reduced DCT scale acts as a block filter, which at sharp edges differs a
// little from Lanczos over all pixels; the same picture one pixel out of place differs by over 30.
constexpr double kCloseToLibvips = 8.0;

void expectNoMetadataSegments(const Bytes& jpeg) {
    const std::string bytes = asString(jpeg);
    EXPECT_EQ(bytes.find("Exif"), std::string::npos);
    EXPECT_EQ(bytes.find("ICC_PROFILE"), std::string::npos);
    EXPECT_EQ(bytes.find("http://ns.adobe.com/xap"), std::string::npos);
}

TEST(JpegScale, SmallestFastScaleThatKeepsTheTargetSize) {
    struct Case {
        int longest, target, eighths;
    };
    for (const Case& c :
         {Case{16384, 2048, 1}, Case{16377, 2048, 1}, Case{16376, 2048, 2}, Case{8192, 2048, 2},
          Case{8190, 2048, 2}, Case{8188, 2048, 4}, Case{4096, 2048, 4},
          Case{4095, 2048, 4},  // 2047.5 rounds up to 2048
          Case{4094, 2048, 8}, Case{2048, 2048, 8}, Case{1000, 1000, 8}, Case{1, 1, 1}}) {
        SCOPED_TRACE(std::to_string(c.longest) + " for " + std::to_string(c.target));
        EXPECT_EQ(jpegScaleEighths(c.longest, c.target), c.eighths);
    }
}

TEST(LanczosResampler, WeightsStayInsideTheInputAndSumToOne) {
    struct Case {
        int input, output;
    };
    // Shrinks of every size class, the identity, a hair of enlargement, and inputs shorter than
    // the kernel.
    for (const Case& c : {Case{4000, 2048}, Case{2500, 2048}, Case{8193, 2048}, Case{2048, 2048},
                          Case{1536, 1537}, Case{5, 2}, Case{3, 1}, Case{1, 1}, Case{20, 1}}) {
        SCOPED_TRACE(std::to_string(c.input) + " to " + std::to_string(c.output));
        const ResampleAxis axis = lanczos3Axis(c.input, c.output);
        ASSERT_EQ(static_cast<int>(axis.first.size()), c.output);
        ASSERT_EQ(axis.weights.size(), axis.first.size() * axis.taps);
        EXPECT_LE(axis.taps, c.input);
        for (int i = 0; i < c.output; ++i) {
            EXPECT_GE(axis.first[i], 0);
            EXPECT_LE(axis.first[i] + axis.taps, c.input);
            const auto group = axis.weights.begin() + static_cast<std::ptrdiff_t>(i) * axis.taps;
            EXPECT_EQ(std::accumulate(group, group + axis.taps, 0), 1 << ResampleAxis::kWeightBits);
        }
    }
}

TEST(LanczosResampler, FlatAreasKeepTheirValueAndEdgesStayInRange) {
    const ResampleAxis axis = lanczos3Axis(300, 128);
    std::vector<std::uint8_t> plane;
    for (int value : {0, 1, 127, 254, 255}) {
        const std::vector<std::uint8_t> row(300 * 3, static_cast<std::uint8_t>(value));
        std::vector<std::uint8_t> out(128 * 3);
        resampleRow(row.data(), axis, 3, out.data(), plane);
        for (std::uint8_t sample : out) ASSERT_EQ(sample, value);
    }
    // A hard black/white edge rings with Lanczos; the overshoot must clamp, not wrap around.
    std::vector<std::uint8_t> edge(300, 0);
    std::fill(edge.begin() + 150, edge.end(), 255);
    std::vector<std::uint8_t> out(128);
    resampleRow(edge.data(), axis, 1, out.data(), plane);
    EXPECT_EQ(out.front(), 0);
    EXPECT_EQ(out.back(), 255);
    for (int i = 1; i < 128; ++i) EXPECT_GE(out[i] + 2, out[i - 1]) << "at " << i;
}

TEST(JpegThumbnailer, OutputHasTheExactBoundedSizeAroundEveryScaleStep) {
    struct Case {
        int width, height;  // source, as stored
        int expectedWidth, expectedHeight;
    };
    // Longer sides just below, at and above each step between decoding scales (4096 = 2 × 2048,
    // 8192, 16384), both ways round; thin pictures keep the tests quick.
    for (const Case& c :
         {Case{4096, 300, 2048, 150}, Case{4097, 3001, 2048, 1500}, Case{4095, 301, 2048, 151},
          Case{4094, 300, 2048, 150}, Case{300, 4096, 150, 2048}, Case{301, 4097, 150, 2048},
          Case{8191, 64, 2048, 16}, Case{8193, 64, 2048, 16}, Case{64, 8192, 16, 2048},
          Case{16383, 40, 2048, 5}, Case{16385, 40, 2048, 5}, Case{2049, 1537, 2048, 1536},
          Case{2047, 1535, 2047, 1535}, Case{6143, 1, 2048, 1}, Case{1, 4097, 1, 2048}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const auto source = makeImage(c.width, c.height, ".jpg", Pattern::flat);
        const auto prepared = ImageCompressor::prepare(source, true);
        ASSERT_TRUE(prepared);
        EXPECT_EQ(prepared->width, c.expectedWidth);
        EXPECT_EQ(prepared->height, c.expectedHeight);
        const auto decoded = decodePicture(asString(prepared->data));
        EXPECT_EQ(decoded.width, c.expectedWidth);
        EXPECT_EQ(decoded.height, c.expectedHeight);
    }
}

TEST(JpegThumbnailer, EveryOrientationIsTurnedUpright) {
    // The stored top-left quadrant is bright; where it must appear once upright, as (right,
    // bottom).
    struct Case {
        int orientation;
        bool right, bottom;
    };
    for (const Case& c :
         {Case{1, false, false}, Case{2, true, false}, Case{3, true, true}, Case{4, false, true},
          Case{5, false, false}, Case{6, true, false}, Case{7, true, true}, Case{8, false, true}}) {
        SCOPED_TRACE("orientation " + std::to_string(c.orientation));
        const auto source =
            makeImage(2200, 1000, ".jpg", Pattern::corner, ExifTags{c.orientation, false});
        const auto prepared = ImageCompressor::prepare(source, true);
        ASSERT_TRUE(prepared);
        const bool turned = c.orientation >= 5;
        EXPECT_EQ(prepared->width, turned ? 931 : 2048);
        EXPECT_EQ(prepared->height, turned ? 2048 : 931);
        expectNoMetadataSegments(prepared->data);
        const auto upright = asString(prepared->data);
        const int halfWidth = prepared->width / 2, halfHeight = prepared->height / 2;
        for (bool right : {false, true}) {
            for (bool bottom : {false, true}) {
                // The middle of each quadrant, clear of the blurred boundary.
                const double mean = testing::meanOfRegion(
                    upright, (right ? halfWidth : 0) + halfWidth / 4,
                    (bottom ? halfHeight : 0) + halfHeight / 4, halfWidth / 2, halfHeight / 2);
                if (right == c.right && bottom == c.bottom) {
                    EXPECT_GT(mean, 250);
                } else {
                    EXPECT_LT(mean, 5);
                }
            }
        }
        EXPECT_EQ(ImageCompressor::readHeader(upright)->orientation, 1);
    }
}

TEST(JpegThumbnailer, LooksLikeLibvipsShrinkingTheFullPicture) {
    // Sharp checker edges show a misaligned or wrongly weighted filter as large differences,
    // which smooth content would hide. Both sides are JPEGs at the same quality, so they differ a
    // little even when the filters agree. Full-scale and half-scale decoding both.
    for (const auto& [width, height] : {std::pair{4000, 3000}, std::pair{5000, 2600}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const auto source = makeImage(width, height, ".jpg", Pattern::checker);
        const auto fast = ImageCompressor::prepare(source, true);
        ASSERT_TRUE(fast);
        const auto reference = testing::libvipsThumbnail(source, 2048);
        ASSERT_EQ(decodePicture(reference).height, fast->height);
        EXPECT_LT(testing::meanDifference(asString(fast->data), reference), kCloseToLibvips);
    }
}

TEST(JpegThumbnailer, OtherKindsOfJpegKeepTheirSize) {
    // Progressive files, and chroma at full resolution (libvips keeps it from quality 90 up),
    // take other paths through libjpeg.
    for (const char* suffix : {".jpg[interlace]", ".jpg[Q=95]"}) {
        SCOPED_TRACE(suffix);
        const auto prepared =
            ImageCompressor::prepare(makeImage(4100, 1000, suffix, Pattern::checker), true);
        ASSERT_TRUE(prepared);
        EXPECT_EQ(prepared->width, 2048);
        EXPECT_EQ(prepared->height, 500);
    }
}

TEST(JpegThumbnailer, GreyscaleStaysGreyAndCmykBecomesRgb) {
    const auto grey = ImageCompressor::prepare(testing::makeJpegWithBands(4100, 1000, 1), true);
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->width, 2048);
    EXPECT_EQ(grey->height, 500);
    EXPECT_EQ(decodePicture(asString(grey->data)).bands, 1);

    // CMYK needs colour management, which the general route does.
    const auto cmykSource = testing::makeJpegWithBands(4100, 1000, 4);
    ASSERT_FALSE(jpegThumbnail(cmykSource, 2048, 500, 1, ImageCompressor::jpegQuality));
    const auto cmyk = ImageCompressor::prepare(cmykSource, true);
    ASSERT_TRUE(cmyk);
    EXPECT_EQ(cmyk->width, 2048);
    EXPECT_EQ(cmyk->height, 500);
    EXPECT_EQ(decodePicture(asString(cmyk->data)).bands, 3);
    expectNoMetadataSegments(cmyk->data);
}

TEST(JpegThumbnailer, TruncatedOrCorruptFilesNeitherCrashNorLie) {
    const auto whole = makeImage(4100, 3000, ".jpg", Pattern::noise);
    for (std::size_t keep : {whole.size() / 2, whole.size() - 2, std::size_t{700}}) {
        SCOPED_TRACE(keep);
        const auto cut = whole.substr(0, keep);
        // The missing rows decode as grey, or the file is refused; either way no crash and a
        // result, when there is one, of the size the header promises.
        if (const auto thumbnail = jpegThumbnail(cut, 2048, 1499, 1, 80)) {
            EXPECT_EQ(decodePicture(asString(thumbnail->data)).width, 2048);
        }
        if (const auto prepared = ImageCompressor::prepare(cut, true)) {
            EXPECT_EQ(prepared->width, 2048);
            EXPECT_EQ(prepared->height, 1499);
        }
    }
    // Entropy-coded data overwritten with garbage in the middle of the file.
    std::string damaged = whole;
    for (std::size_t i = damaged.size() / 3; i < damaged.size() / 3 + 4096; ++i) {
        damaged[i] = static_cast<char>(i * 131);
    }
    if (const auto prepared = ImageCompressor::prepare(damaged, true)) {
        EXPECT_EQ(prepared->width, 2048);
    }
    EXPECT_FALSE(jpegThumbnail("not a picture", 10, 10, 1, 80));
    EXPECT_FALSE(jpegThumbnail(whole, 0, 10, 1, 80));
}

}  // namespace
}  // namespace kestrune
