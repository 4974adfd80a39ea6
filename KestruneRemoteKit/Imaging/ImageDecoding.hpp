#pragma once

#include <optional>
#include <string_view>

#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"

// The decoder behind ImageCompressor, chosen when the project is configured: libvips for every
// format it reads (desktop builds), or libjpeg alone for JPEG and the PNG header (builds without
// the desktop libraries, e.g. a headless phone).
namespace kestrune::ImageDecoding {

// The header of a non-empty source, without decoding pixels; none when it is no picture this
// decoder reads.
std::optional<ImageCompressor::ImageHeader> readHeader(std::string_view source);

// The general way of re-encoding: any picture this decoder reads, as a JPEG whose longer side is
// `target`, upright and without metadata. Taken when libjpeg's fast route cannot be.
std::optional<PreparedImage> reencode(std::string_view source,
                                      const ImageCompressor::ImageHeader& header, int target);

}  // namespace kestrune::ImageDecoding
