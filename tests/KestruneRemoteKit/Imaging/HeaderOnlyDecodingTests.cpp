// The decoder of builds without libvips: headers of hand-made JPEG and PNG files (sizes, EXIF
// orientation and location, refusal of damaged input) and PNG re-encoding through libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Imaging/ImageDecoding.hpp"
#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"

namespace kestrune {
namespace {

void put16(std::string& out, unsigned value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

void put32(std::string& out, unsigned value) {
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

// A big-endian EXIF block with the orientation and, when asked, a GPS directory pointer.
std::string exif(unsigned orientation, bool location) {
    std::string tiff = "MM";
    put16(tiff, 42);
    put32(tiff, 8);
    put16(tiff, location ? 2 : 1);
    put16(tiff, 0x0112);  // Orientation, SHORT, count 1, value left-aligned
    put16(tiff, 3);
    put32(tiff, 1);
    put16(tiff, orientation);
    put16(tiff, 0);
    if (location) {
        put16(tiff, 0x8825);  // GPS directory pointer, LONG
        put16(tiff, 4);
        put32(tiff, 1);
        put32(tiff, 26);
    }
    put32(tiff, 0);
    return std::string("Exif\0\0", 6) + tiff;
}

std::string segment(std::uint8_t marker, const std::string& body) {
    std::string out = {'\xFF', static_cast<char>(marker)};
    put16(out, static_cast<unsigned>(body.size() + 2));
    return out + body;
}

std::string jpeg(int width, int height, const std::string& app1 = {}) {
    std::string frame = "\x08";  // precision
    put16(frame, static_cast<unsigned>(height));
    put16(frame, static_cast<unsigned>(width));
    frame += std::string("\x01\x01\x11\x00", 4);  // one component
    std::string out = "\xFF\xD8";
    if (!app1.empty()) out += segment(0xE1, app1);
    out += segment(0xDB, std::string(65, '\x01'));  // a quantisation table before the frame
    return out + segment(0xC0, frame) + segment(0xDA, std::string(8, '\0'));
}

std::string png(std::uint32_t width, std::uint32_t height) {
    std::string out("\x89PNG\r\n\x1A\n", 8);
    put32(out, 13);
    out += "IHDR";
    put32(out, width);
    put32(out, height);
    return out + std::string("\x08\x02\x00\x00\x00", 5);
}

TEST(HeaderOnlyDecoding, ReadsJpegSizeOrientationAndLocation) {
    const auto plain = ImageDecoding::readHeader(jpeg(640, 480));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->width, 640);
    EXPECT_EQ(plain->height, 480);
    EXPECT_EQ(plain->orientation, 1);
    EXPECT_EQ(plain->format, ImageFormat::jpeg);
    EXPECT_FALSE(plain->hasLocation);

    const auto turned = ImageDecoding::readHeader(jpeg(4000, 3000, exif(6, true)));
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width, 4000);
    EXPECT_EQ(turned->height, 3000);
    EXPECT_EQ(turned->orientation, 6);
    EXPECT_TRUE(turned->hasLocation);
}

TEST(HeaderOnlyDecoding, ReadsThePngHeaderAndRefusesOtherFormats) {
    const auto header = ImageDecoding::readHeader(png(1920, 1080));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->format, ImageFormat::png);
    EXPECT_EQ(header->width, 1920);
    EXPECT_EQ(header->height, 1080);
    EXPECT_FALSE(ImageDecoding::readHeader("GIF89a\x01\x00\x01\x00"));
    EXPECT_FALSE(ImageDecoding::readHeader(png(0, 10)));
    // Only the header is there: re-encoding fails cleanly.
    EXPECT_FALSE(ImageDecoding::reencode(png(10, 10), *ImageDecoding::readHeader(png(10, 10)), 8));
}

TEST(HeaderOnlyDecoding, PngIsShrunkToAJpegWithTransparencyOnWhite) {
    // 400 × 100: the left half opaque black, the right half fully transparent.
    constexpr int kWidth = 400, kHeight = 100;
    std::vector<std::uint8_t> rgba(kWidth * kHeight * 4, 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth / 2; ++x) rgba[(y * kWidth + x) * 4 + 3] = 255;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr));
    std::string file(size, '\0');
    ASSERT_TRUE(png_image_write_to_memory(&image, file.data(), &size, 0, rgba.data(), 0, nullptr));

    const auto header = ImageDecoding::readHeader(file);
    ASSERT_TRUE(header);
    const auto prepared = ImageDecoding::reencode(file, *header, 200);
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->format, ImageFormat::jpeg);
    EXPECT_EQ(std::make_pair(prepared->width, prepared->height), std::make_pair(200, 50));

    // Decoded again: dark on the left, white where the picture was transparent.
    const std::string jpegFile(prepared->data.begin(), prepared->data.end());
    ScaledJpegDecoder decoder;
    ASSERT_TRUE(decoder.open(jpegFile, 200));
    ASSERT_EQ(std::make_pair(decoder.width(), decoder.height()), std::make_pair(200, 50));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(decoder.width()) * decoder.bands());
    std::vector<std::uint8_t*> rows{row.data()};
    for (int y = 0; y < 25; ++y) ASSERT_TRUE(decoder.readRows(rows.data(), 1));
    EXPECT_LT(row[10 * decoder.bands()], 30);
    EXPECT_GT(row[190 * decoder.bands()], 225);
}

TEST(HeaderOnlyDecoding, DamagedHeadersAreRefusedWithoutReadingPastTheEnd) {
    const std::string whole = jpeg(640, 480, exif(3, false));
    // Every cut before the frame header ends is refused; none reads past the bytes it was given.
    const std::size_t frameEnd = whole.find(std::string("\xFF\xDA", 2));
    for (std::size_t length = 0; length < frameEnd; ++length) {
        // A buffer of exactly that size, so that AddressSanitizer sees any read beyond it.
        const auto cut = std::make_unique<char[]>(length);
        std::copy_n(whole.data(), length, cut.get());
        EXPECT_FALSE(ImageDecoding::readHeader(std::string_view(cut.get(), length))) << length;
    }
    // A segment length running past the end, and an EXIF directory claiming more entries than
    // it holds (the orientation is still read; the rest is ignored).
    std::string overlong = whole;
    overlong[4] = '\x7F';
    EXPECT_FALSE(ImageDecoding::readHeader(overlong));
    std::string manyEntries = exif(8, false);
    manyEntries[15] = '\x40';
    const auto header = ImageDecoding::readHeader(jpeg(10, 20, manyEntries));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->orientation, 8);
}

}  // namespace
}  // namespace kestrune
