#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {

// A picture ready to cross the phone link.
struct PreparedImage {
    Bytes data;
    ImageFormat format = ImageFormat::jpeg;
    int width = 0;   // as displayed, after orientation
    int height = 0;  // as displayed, after orientation
    // Size of the source when `data` is a re-encoding of it; absent when `data` is the source.
    std::optional<std::int64_t> originalBytes;

    bool operator==(const PreparedImage&) const = default;

    // One line for the phone's history: dimensions and size ("1,024 × 768 · 245 KB").
    std::string summary() const;
};

namespace ImageCompressor {

// Longest side of a re-encoded picture: large enough for a phone screen, small enough to send fast.
inline constexpr int kMaxPixelSize = 2048;
// Lossy quality of a re-encoding, on libjpeg's 1–100 scale (0.8 of the full range).
inline constexpr int jpegQuality = 80;
// Pictures with more pixels than this are always re-encoded: larger ones exhaust a phone's memory.
inline constexpr std::int64_t macMaxPixels = 60'000'000;

// Sends the bytes unchanged when allowed and possible, else re-encodes them as a JPEG whose longer
// side is at most kMaxPixelSize. None when the bytes are not a picture or re-encoding fails.
std::optional<PreparedImage> prepare(std::string_view source, bool compress,
                                     std::int64_t pixelLimit = macMaxPixels);

// What a decoder reads from the header alone, without decoding pixels.
struct ImageHeader {
    int width = 0;   // as stored
    int height = 0;  // as stored
    int orientation = 1;
    std::optional<ImageFormat> format;  // none for pictures outside the wire formats (TIFF, GIF, …)
    bool hasLocation = false;
};
std::optional<ImageHeader> readHeader(std::string_view source);

// Width and height as displayed: EXIF orientations 5–8 turn the picture a quarter.
std::pair<int, int> orientedSize(int width, int height, int orientation);

std::string summary(int width, int height, std::int64_t bytes);

}  // namespace ImageCompressor

}  // namespace kestrune
