#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::ClipboardImage {

// The clipboard types a received picture may arrive as (MIME types of the clipboard).
inline constexpr std::string_view kPngType = "image/png";
inline constexpr std::string_view kJpegType = "image/jpeg";
inline constexpr std::string_view kHeicType = "image/heic";
inline constexpr std::string_view kTiffType = "image/tiff";

// What goes on the clipboard for a received picture: the bytes as received under their own type,
// and a TIFF rendering for applications that only paste bitmaps.
struct Prepared {
    Bytes original;
    std::string type;  // one of the three allowed MIME types
    Bytes tiff;
    bool operator==(const Prepared&) const = default;
};

std::string_view mimeType(ImageFormat format);

// None when the bytes are not a PNG, JPEG or HEIC picture, or have more than `maxPixels` pixels.
std::optional<Prepared> prepare(std::string_view data, std::int64_t maxPixels);

}  // namespace kestrune::ClipboardImage
