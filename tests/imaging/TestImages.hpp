#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::testing {

struct ExifTags {
    int orientation = 0;    // 0: no orientation tag
    bool location = false;  // a GPS directory with a latitude
};

// Pictures made in memory with libvips, so each test states exactly what it feeds the compressor.
enum class Pattern { flat, noise };
std::string makeImage(int width, int height, const std::string& saverSuffix, Pattern pattern,
                      ExifTags exif = {}, bool alpha = false);

// A minimal little-endian EXIF block ("Exif\0\0" + TIFF) carrying the given tags.
std::vector<std::uint8_t> exifBlock(ExifTags tags);

}  // namespace kestrune::testing
