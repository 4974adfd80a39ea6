#include "TestImages.hpp"

#include <vips/vips.h>

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
    std::vector<std::uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), tiff.begin(), tiff.end());
    return block;
}

std::string makeImage(int width, int height, const std::string& saverSuffix, Pattern pattern,
                      ExifTags exif, bool alpha) {
    ensureVipsStarted();
    VipsImage* image = nullptr;
    const int bands = alpha ? 4 : 3;
    int failed;
    if (pattern == Pattern::flat) {
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

}  // namespace kestrune::testing
