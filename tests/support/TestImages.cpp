#include "tests/support/TestImages.hpp"

#include <vips/vips.h>

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace kestrune::testing {

namespace {

void put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(value & 0xff);
    out.push_back((value >> 8) & 0xff);
}
void put32(std::vector<std::uint8_t>& out, unsigned value) {
    for (int i = 0; i < 4; ++i) out.push_back((value >> (8 * i)) & 0xff);
}
void entry(std::vector<std::uint8_t>& out, unsigned tag, unsigned type, unsigned count,
           unsigned value) {
    put16(out, tag);
    put16(out, type);
    put32(out, count);
    put32(out, value);
}

constexpr unsigned kShort = 3, kLong = 4, kAscii = 2;

}  // namespace

std::vector<std::uint8_t> exifBlock(ExifTags tags) {
    std::vector<std::uint8_t> tiff = {'I', 'I', 42, 0};
    put32(tiff, 8);  // IFD0 right after the header
    const unsigned ifd0Entries = (tags.orientation ? 1 : 0) + (tags.location ? 1 : 0);
    const unsigned gpsOffset = 8 + 2 + 12 * ifd0Entries + 4;
    put16(tiff, ifd0Entries);
    if (tags.orientation) entry(tiff, 0x0112, kShort, 1, static_cast<unsigned>(tags.orientation));
    if (tags.location) entry(tiff, 0x8825, kLong, 1, gpsOffset);
    put32(tiff, 0);  // no next IFD
    if (tags.location) {
        put16(tiff, 1);
        entry(tiff, 0x0001, kAscii, 2, 'N');  // GPSLatitudeRef "N", stored inline
        put32(tiff, 0);
    }
    // Sized once and filled: growing a six-byte vector by insert() makes g++ 12 at -O2 warn about
    // a copy out of bounds that cannot happen (-Warray-bounds).
    constexpr std::uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
    std::vector<std::uint8_t> block(sizeof kExifHeader + tiff.size());
    std::copy(std::begin(kExifHeader), std::end(kExifHeader), block.begin());
    std::copy(tiff.begin(), tiff.end(), block.begin() + sizeof kExifHeader);
    return block;
}

std::string makeImage(int width, int height, const std::string& saverSuffix, Pattern pattern,
                      ExifTags exif, bool alpha) {
    ensureVipsStarted();
    VipsImage* image = nullptr;
    const int bands = alpha ? 4 : 3;
    int failed;
    if (pattern == Pattern::corner) {
        VipsImage* dark = nullptr;
        failed = vips_black(&dark, width, height, "bands", bands, nullptr);
        if (!failed) {
            VipsImage* lit = nullptr;
            failed =
                vips_draw_rect1(dark, 255.0, 0, 0, width / 2, height / 2, "fill", TRUE, nullptr);
            if (!failed) failed = vips_cast_uchar(dark, &lit, nullptr);
            image = lit;
            g_object_unref(dark);
        }
    } else if (pattern == Pattern::checker) {
        VipsImage *xyz = nullptr, *x = nullptr, *y = nullptr, *xBit = nullptr, *yBit = nullptr,
                  *square = nullptr, *scaled = nullptr;
        VipsImage* planes[4] = {};
        failed = vips_xyz(&xyz, width, height, nullptr) || vips_extract_band(xyz, &x, 0, nullptr) ||
                 vips_extract_band(xyz, &y, 1, nullptr) ||
                 vips_andimage_const1(x, &xBit, 16, nullptr) ||
                 vips_andimage_const1(y, &yBit, 16, nullptr) ||
                 vips_eorimage(xBit, yBit, &square, nullptr) ||
                 vips_linear1(square, &scaled, 255.0 / 16, 0.0, "uchar", TRUE, nullptr);
        if (!failed) {
            std::fill(std::begin(planes), std::end(planes), scaled);
            failed = vips_bandjoin(planes, &image, bands, nullptr);
        }
        for (VipsImage* step : {xyz, x, y, xBit, yBit, square, scaled}) {
            if (step != nullptr) g_object_unref(step);
        }
    } else if (pattern == Pattern::flat) {
        VipsImage* black = nullptr;
        failed = vips_black(&black, width, height, "bands", bands, nullptr);
        if (!failed) {
            failed = vips_linear1(black, &image, 1.0, 180.0, "uchar", TRUE, nullptr);
            g_object_unref(black);
        }
    } else {
        VipsImage* noise = nullptr;
        failed = vips_gaussnoise(&noise, width, height, "mean", 128.0, "sigma", 60.0, nullptr);
        if (!failed) {
            VipsImage* joined = nullptr;
            VipsImage* copies[4] = {noise, noise, noise, noise};
            failed = vips_bandjoin(copies, &joined, bands, nullptr);
            if (!failed) {
                failed = vips_cast_uchar(joined, &image, nullptr);
                g_object_unref(joined);
            }
            g_object_unref(noise);
        }
    }
    if (failed) throw std::runtime_error(vips_error_buffer());
    if (exif.orientation || exif.location) {
        const auto block = exifBlock(exif);
        vips_image_set_blob_copy(image, "exif-data", block.data(), block.size());
        if (exif.orientation) vips_image_set_int(image, "orientation", exif.orientation);
    }
    void* buffer = nullptr;
    size_t length = 0;
    failed = vips_image_write_to_buffer(image, saverSuffix.c_str(), &buffer, &length, nullptr);
    g_object_unref(image);
    if (failed) throw std::runtime_error(vips_error_buffer());
    std::string bytes(static_cast<const char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

std::string makeJpegWithBands(int width, int height, int bands) {
    ensureVipsStarted();
    VipsImage* noise = nullptr;
    VipsImage* joined = nullptr;
    VipsImage* cast = nullptr;
    VipsImage* image = nullptr;
    VipsImage* copies[4] = {nullptr, nullptr, nullptr, nullptr};
    int failed = vips_gaussnoise(&noise, width, height, "mean", 128.0, "sigma", 40.0, nullptr);
    if (!failed) {
        std::fill(std::begin(copies), std::end(copies), noise);
        failed = vips_bandjoin(copies, &joined, bands, nullptr);
    }
    if (!failed) failed = vips_cast_uchar(joined, &cast, nullptr);
    if (!failed) {
        failed =
            vips_copy(cast, &image, "interpretation",
                      bands == 4 ? VIPS_INTERPRETATION_CMYK : VIPS_INTERPRETATION_B_W, nullptr);
    }
    for (VipsImage* step : {noise, joined, cast}) {
        if (step != nullptr) g_object_unref(step);
    }
    if (failed) throw std::runtime_error(vips_error_buffer());
    void* buffer = nullptr;
    size_t length = 0;
    failed = vips_jpegsave_buffer(image, &buffer, &length, "Q", 90, nullptr);
    g_object_unref(image);
    if (failed) throw std::runtime_error(vips_error_buffer());
    std::string bytes(static_cast<const char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

std::string libvipsThumbnail(const std::string& source, int longest) {
    ensureVipsStarted();
    VipsImage* thumbnail = nullptr;
    if (vips_thumbnail_buffer(const_cast<char*>(source.data()), source.size(), &thumbnail, longest,
                              "height", longest, nullptr) != 0) {
        throw std::runtime_error(vips_error_buffer());
    }
    void* buffer = nullptr;
    size_t length = 0;
    const int failed =
        vips_jpegsave_buffer(thumbnail, &buffer, &length, "Q", 80, "strip", TRUE, nullptr);
    g_object_unref(thumbnail);
    if (failed) throw std::runtime_error(vips_error_buffer());
    std::string bytes(static_cast<const char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

namespace {
VipsImage* load(const std::string& bytes) {
    ensureVipsStarted();
    VipsImage* image = vips_image_new_from_buffer(bytes.data(), bytes.size(), "", nullptr);
    if (image == nullptr) throw std::runtime_error(vips_error_buffer());
    return image;
}
}  // namespace

DecodedPicture decodePicture(const std::string& bytes) {
    VipsImage* image = load(bytes);
    DecodedPicture picture{vips_image_get_width(image), vips_image_get_height(image),
                           vips_image_get_bands(image)};
    g_object_unref(image);
    return picture;
}

double meanOfRegion(const std::string& bytes, int left, int top, int width, int height) {
    VipsImage* image = load(bytes);
    VipsImage* region = nullptr;
    double mean = -1;
    if (vips_extract_area(image, &region, left, top, width, height, nullptr) == 0) {
        vips_avg(region, &mean, nullptr);
        g_object_unref(region);
    }
    g_object_unref(image);
    return mean;
}

double meanDifference(const std::string& first, const std::string& second) {
    VipsImage* a = load(first);
    VipsImage* b = load(second);
    VipsImage* difference = nullptr;
    VipsImage* magnitude = nullptr;
    double mean = -1;
    if (vips_subtract(a, b, &difference, nullptr) == 0 &&
        vips_abs(difference, &magnitude, nullptr) == 0) {
        vips_avg(magnitude, &mean, nullptr);
    }
    for (VipsImage* image : {a, b, difference, magnitude}) {
        if (image != nullptr) g_object_unref(image);
    }
    return mean;
}

}  // namespace kestrune::testing
