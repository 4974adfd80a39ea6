// The general way of reading and re-encoding pictures: libvips, for every format it loads.
#include <vips/vips.h>

#include <algorithm>
#include <cstring>

#include "KestruneRemoteKit/Imaging/ImageDecoding.hpp"
#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"
#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace kestrune::ImageDecoding {

namespace {

std::optional<ImageFormat> formatForLoader(const char* loader, VipsImage* image) {
    if (loader == nullptr) return std::nullopt;
    const std::string_view name(loader);
    if (name.starts_with("VipsForeignLoadJpeg")) return ImageFormat::jpeg;
    if (name.starts_with("VipsForeignLoadPng")) return ImageFormat::png;
    if (name.starts_with("VipsForeignLoadHeif")) {
        // The HEIF container also carries AVIF, which phones cannot be assumed to read.
        const char* compression = nullptr;
        if (vips_image_get_typeof(image, "heif-compression") != 0 &&
            vips_image_get_string(image, "heif-compression", &compression) == 0 &&
            std::string_view(compression) == "av1") {
            return std::nullopt;
        }
        return ImageFormat::heic;
    }
    return std::nullopt;
}

bool carriesLocation(VipsImage* image) {
    // libvips exposes the EXIF GPS directory as fields named "exif-ifd3-…".
    bool found = false;
    vips_image_map(
        image,
        [](VipsImage*, const char* field, GValue*, void* flag) -> void* {
            if (std::strncmp(field, "exif-ifd3-", 10) == 0) {
                *static_cast<bool*>(flag) = true;
                return flag;  // a non-null return stops the walk
            }
            return nullptr;
        },
        &found);
    return found;
}

std::optional<PreparedImage> encoded(VipsImage* image) {
    void* buffer = nullptr;
    size_t length = 0;
    if (vips_jpegsave_buffer(image, &buffer, &length, "Q", ImageCompressor::jpegQuality, "strip",
                             TRUE, nullptr) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    PreparedImage result;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    result.data.assign(bytes, bytes + length);
    g_free(buffer);
    result.format = ImageFormat::jpeg;
    result.width = vips_image_get_width(image);
    result.height = vips_image_get_height(image);
    return result;
}

}  // namespace

std::optional<ImageCompressor::ImageHeader> readHeader(std::string_view source) {
    ensureVipsStarted();
    const char* loader = vips_foreign_find_load_buffer(source.data(), source.size());
    if (loader == nullptr) {
        vips_error_clear();
        return std::nullopt;
    }
    // Opening is lazy: only the header is parsed until pixels are asked for.
    VipsImage* image = vips_image_new_from_buffer(source.data(), source.size(), "", "access",
                                                  VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (image == nullptr) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsObjectPtr<VipsImage> owned(image);
    ImageCompressor::ImageHeader header;
    header.width = vips_image_get_width(image);
    header.height = vips_image_get_height(image);
    if (header.width <= 0 || header.height <= 0) return std::nullopt;
    header.orientation = vips_image_get_orientation(image);
    header.format = formatForLoader(loader, image);
    header.hasLocation = carriesLocation(image);
    return header;
}

std::optional<PreparedImage> reencode(std::string_view source,
                                      const ImageCompressor::ImageHeader& header, int target) {
    ensureVipsStarted();
    VipsImage* thumbnail = nullptr;
    int failed;
    // libvips's shrink-on-load uses the same DCT scales as the fast route.
    int shrink = 8 / jpegScaleEighths(std::max(header.width, header.height), target);
    // A long thin picture must keep at least one pixel across: libvips aborts the process on an
    // image with a side of zero.
    while (shrink > 1 && std::min(header.width, header.height) < shrink) shrink /= 2;
    if (header.format == ImageFormat::jpeg && shrink > 1) {
        VipsImage* reduced = nullptr;
        failed = vips_jpegload_buffer(const_cast<char*>(source.data()), source.size(), &reduced,
                                      "shrink", shrink, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
        if (failed == 0) {
            failed = vips_thumbnail_image(reduced, &thumbnail, target, "height", target, "size",
                                          VIPS_SIZE_DOWN, nullptr);
            g_object_unref(reduced);
        }
    } else {
        failed = vips_thumbnail_buffer(const_cast<char*>(source.data()), source.size(), &thumbnail,
                                       target, "height", target, "size", VIPS_SIZE_DOWN, nullptr);
    }
    if (failed != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsObjectPtr<VipsImage> owned(thumbnail);

    // JPEG holds at most three channels: flatten transparency onto white, as viewers would show it.
    VipsImage* opaque = thumbnail;
    VipsObjectPtr<VipsImage> flattened;
    if (vips_image_hasalpha(thumbnail)) {
        VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
        VipsImage* out = nullptr;
        const int flattenFailed = vips_flatten(thumbnail, &out, "background", white, nullptr);
        vips_area_unref(VIPS_AREA(white));
        if (flattenFailed != 0) {
            vips_error_clear();
            return std::nullopt;
        }
        flattened.reset(out);
        opaque = out;
    }
    return encoded(opaque);
}

}  // namespace kestrune::ImageDecoding
