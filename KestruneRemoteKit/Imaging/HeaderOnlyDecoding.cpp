// The decoder of builds without libvips: JPEG and PNG only. Headers are read here; JPEG pixels go
// libjpeg's fast route, PNG pixels are decoded by libpng (transparency flattened onto white),
// shrunk with the same Lanczos-3 filter and encoded by libjpeg. Other formats, and JPEGs the
// fast route cannot take (CMYK), are refused.
#include <png.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "KestruneRemoteKit/Imaging/ImageDecoding.hpp"
#include "KestruneRemoteKit/Imaging/JpegRowEncoder.hpp"
#include "KestruneRemoteKit/Imaging/LanczosResampler.hpp"

namespace kestrune::ImageDecoding {

namespace {

// A bounded reader over the source: every read past the end fails instead of reading on.
class ByteReader {
  public:
    explicit ByteReader(std::string_view data) : data_(data) {}
    std::size_t size() const { return data_.size(); }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= data_.size() && count <= data_.size() - offset;
    }
    std::uint8_t at(std::size_t offset) const { return static_cast<std::uint8_t>(data_[offset]); }
    std::uint32_t big(std::size_t offset, int count) const {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 8) | at(offset + i);
        return value;
    }
    std::uint32_t ordered(std::size_t offset, int count, bool little) const {
        if (!little) return big(offset, count);
        std::uint32_t value = 0;
        for (int i = count - 1; i >= 0; --i) value = (value << 8) | at(offset + i);
        return value;
    }
    std::string_view slice(std::size_t offset, std::size_t count) const {
        return data_.substr(offset, count);
    }

  private:
    std::string_view data_;
};

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kGpsDirectoryTag = 0x8825;

// The orientation and whether a GPS directory is present, from an EXIF block ("Exif\0\0" and a
// TIFF structure). Only the first directory is read: both tags live there.
void readExif(std::string_view block, ImageCompressor::ImageHeader& header) {
    const ByteReader exif(block);
    if (!exif.has(0, 14) || exif.slice(0, 6) != std::string_view("Exif\0\0", 6)) return;
    const std::size_t tiff = 6;
    const bool little = exif.slice(tiff, 2) == "II";
    if (!little && exif.slice(tiff, 2) != "MM") return;
    const std::size_t directory = tiff + exif.ordered(tiff + 4, 4, little);
    if (!exif.has(directory, 2)) return;
    const std::uint32_t entries = exif.ordered(directory, 2, little);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + std::size_t{i} * 12;
        if (!exif.has(entry, 12)) return;
        const std::uint32_t tag = exif.ordered(entry, 2, little);
        if (tag == kOrientationTag) {
            const std::uint32_t value = exif.ordered(entry + 8, 2, little);
            if (value >= 1 && value <= 8) header.orientation = static_cast<int>(value);
        } else if (tag == kGpsDirectoryTag) {
            header.hasLocation = true;
        }
    }
}

bool isStartOfFrame(std::uint8_t marker) {
    // SOF0–SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<ImageCompressor::ImageHeader> readJpeg(const ByteReader& jpeg) {
    ImageCompressor::ImageHeader header;
    header.format = ImageFormat::jpeg;
    std::size_t at = 2;  // after SOI
    while (jpeg.has(at, 4)) {
        if (jpeg.at(at) != 0xFF) return std::nullopt;
        const std::uint8_t marker = jpeg.at(at + 1);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const std::uint32_t length = jpeg.big(at + 2, 2);
        if (length < 2 || !jpeg.has(at + 2, length)) return std::nullopt;
        if (marker == 0xE1) readExif(jpeg.slice(at + 4, length - 2), header);
        if (isStartOfFrame(marker)) {
            if (length < 7) return std::nullopt;
            header.height = static_cast<int>(jpeg.big(at + 5, 2));
            header.width = static_cast<int>(jpeg.big(at + 7, 2));
            if (header.width <= 0 || header.height <= 0) return std::nullopt;
            return header;
        }
        if (marker == 0xDA) return std::nullopt;  // scan data before any frame header
        at += 2 + length;
    }
    return std::nullopt;
}

std::optional<ImageCompressor::ImageHeader> readPng(const ByteReader& png) {
    // Signature, then the IHDR chunk: length, type, width, height.
    if (!png.has(0, 24) || png.slice(12, 4) != "IHDR") return std::nullopt;
    ImageCompressor::ImageHeader header;
    header.format = ImageFormat::png;
    const std::uint32_t width = png.big(16, 4);
    const std::uint32_t height = png.big(20, 4);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
    header.width = static_cast<int>(width);
    header.height = static_cast<int>(height);
    return header;
}

}  // namespace

std::optional<ImageCompressor::ImageHeader> readHeader(std::string_view source) {
    const ByteReader bytes(source);
    if (bytes.has(0, 3) && bytes.big(0, 3) == 0xFFD8FF) return readJpeg(bytes);
    if (bytes.has(0, 8) && bytes.slice(0, 8) == std::string_view("\x89PNG\r\n\x1A\n", 8)) {
        return readPng(bytes);
    }
    return std::nullopt;
}

std::optional<PreparedImage> reencode(std::string_view source,
                                      const ImageCompressor::ImageHeader& header, int target) {
    if (header.format != ImageFormat::png) return std::nullopt;
    // Decoding holds the whole picture; beyond the compressor's own limit it is refused.
    if (std::int64_t{header.width} * header.height > ImageCompressor::macMaxPixels) {
        return std::nullopt;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, source.data(), source.size())) {
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    const png_color white{255, 255, 255};
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, &white, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    const int width = static_cast<int>(image.width);
    const int height = static_cast<int>(image.height);
    constexpr int kBands = 3;

    // The longer side becomes `target` (never larger than the source), the other keeps the
    // proportions.
    const int longest = std::max(width, height);
    const int side = std::min(target, longest);
    const auto scaled = [&](int length) {
        return std::max(
            1, static_cast<int>(std::lround(static_cast<double>(length) * side / longest)));
    };
    const int outWidth = scaled(width);
    const int outHeight = scaled(height);

    // Horizontal pass over every row, then the vertical pass row by row into the encoder.
    const ResampleAxis across = lanczos3Axis(width, outWidth);
    const ResampleAxis down = lanczos3Axis(height, outHeight);
    const std::size_t outRow = static_cast<std::size_t>(outWidth) * kBands;
    std::vector<std::uint8_t> narrowed(outRow * height);
    std::vector<std::uint8_t> plane;
    for (int y = 0; y < height; ++y) {
        resampleRow(pixels.data() + static_cast<std::size_t>(y) * width * kBands, across, kBands,
                    narrowed.data() + y * outRow, plane);
    }
    pixels = {};
    JpegRowEncoder encoder;
    if (!encoder.start(outWidth, outHeight, kBands, ImageCompressor::jpegQuality)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> row(outRow);
    std::vector<const std::uint8_t*> taps(down.taps);
    std::vector<std::int32_t> scratch;
    for (int y = 0; y < outHeight; ++y) {
        for (int t = 0; t < down.taps; ++t)
            taps[t] = narrowed.data() + (down.first[y] + t) * outRow;
        resampleRows(taps.data(), down.weights.data() + static_cast<std::size_t>(y) * down.taps,
                     down.taps, static_cast<int>(outRow), row.data(), scratch);
        const std::uint8_t* rows[] = {row.data()};
        if (!encoder.writeRows(rows, 1)) return std::nullopt;
    }
    auto data = encoder.finish();
    if (!data) return std::nullopt;
    PreparedImage result;
    result.data = std::move(*data);
    result.format = ImageFormat::jpeg;
    result.width = outWidth;
    result.height = outHeight;
    return result;
}

}  // namespace kestrune::ImageDecoding
