#pragma once

#include <optional>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {

struct JpegThumbnail {
    Bytes data;      // a JPEG without metadata
    int width = 0;   // as displayed, after orientation
    int height = 0;  // as displayed, after orientation
};

// Shrinks a greyscale or colour JPEG to exactly `width` × `height` (as stored, before orientation)
// with a Lanczos-3 filter, turns it upright for the given EXIF orientation and encodes it at
// `quality`. libjpeg decodes at a reduced DCT scale on one thread while this one shrinks and
// encodes the rows already decoded, so only a window of decoded rows is held at a time. None when
// the source is not such a JPEG (CMYK, damaged beyond what libjpeg tolerates); callers then take
// another way.
std::optional<JpegThumbnail> jpegThumbnail(std::string_view source, int width, int height,
                                           int orientation, int quality);

}  // namespace kestrune
