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
// corner: a bright top-left quadrant on a dark ground, to see where orientation puts it.
// checker: black and white squares of 16 pixels, whose sharp edges show any misplaced sample.
enum class Pattern { flat, noise, corner, checker };
std::string makeImage(int width, int height, const std::string& saverSuffix, Pattern pattern,
                      ExifTags exif = {}, bool alpha = false);

// A JPEG of 1 band (greyscale) or 4 (CMYK), which makeImage cannot give.
std::string makeJpegWithBands(int width, int height, int bands);

// Decodes a picture with libvips: its size, band count and mean sample value in a region.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    int bands = 0;
};
DecodedPicture decodePicture(const std::string& bytes);
double meanOfRegion(const std::string& bytes, int left, int top, int width, int height);
// libvips's own thumbnail of a picture (full decode, Lanczos-3), as JPEG at quality 80.
std::string libvipsThumbnail(const std::string& source, int longest);
// Mean absolute difference of two same-sized pictures, over all samples.
double meanDifference(const std::string& first, const std::string& second);

// A minimal little-endian EXIF block ("Exif\0\0" + TIFF) carrying the given tags.
std::vector<std::uint8_t> exifBlock(ExifTags tags);

}  // namespace kestrune::testing
