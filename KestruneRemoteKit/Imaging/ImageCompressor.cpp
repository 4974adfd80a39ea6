#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"
#include "KestruneRemoteKit/Imaging/JpegThumbnailer.hpp"
#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace kestrune::ImageCompressor {

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

// The size vips would give a thumbnail bounded by `target`: the longer side becomes `target`, the
// other keeps the picture's proportions, rounded to the nearest pixel.
std::pair<int, int> boundedSize(int width, int height, int target) {
    const auto scaled = [target](int side, int longest) {
        return std::max(
            1, static_cast<int>(std::lround(static_cast<double>(side) * target / longest)));
    };
    if (width >= height) return {target, scaled(height, width)};
    return {scaled(width, height), target};
}

std::optional<PreparedImage> encoded(VipsImage* image) {
    void* buffer = nullptr;
    size_t length = 0;
    if (vips_jpegsave_buffer(image, &buffer, &length, "Q", jpegQuality, "strip", TRUE, nullptr) !=
        0) {
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

std::optional<PreparedImage> compressed(std::string_view source, const ImageHeader& header,
                                        int longestSide) {
    const int target = std::min(longestSide, maxPixelSize);
    if (header.format == ImageFormat::jpeg) {
        // Anything the fast route does not take (CMYK, damage libjpeg rejects) goes the general
        // way below.
        const auto [width, height] = boundedSize(header.width, header.height, target);
        if (auto fast = jpegThumbnail(source, width, height, header.orientation, jpegQuality)) {
            PreparedImage result;
            result.data = std::move(fast->data);
            result.format = ImageFormat::jpeg;
            result.width = fast->width;
            result.height = fast->height;
            return result;
        }
    }
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

}  // namespace

std::pair<int, int> orientedSize(int width, int height, int orientation) {
    if (orientation >= 5 && orientation <= 8) return {height, width};
    return {width, height};
}

std::optional<ImageHeader> readHeader(std::string_view source) {
    ensureVipsStarted();
    if (source.empty()) return std::nullopt;
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
    ImageHeader header;
    header.width = vips_image_get_width(image);
    header.height = vips_image_get_height(image);
    if (header.width <= 0 || header.height <= 0) return std::nullopt;
    header.orientation = vips_image_get_orientation(image);
    header.format = formatForLoader(loader, image);
    header.hasLocation = carriesLocation(image);
    return header;
}

std::optional<PreparedImage> prepare(std::string_view source, bool compress,
                                     std::int64_t pixelLimit) {
    const auto header = readHeader(source);
    if (!header) return std::nullopt;
    const std::int64_t pixels = std::int64_t{header->width} * header->height;
    const auto [shownWidth, shownHeight] =
        orientedSize(header->width, header->height, header->orientation);
    const auto asSource = [&, shownWidth = shownWidth,
                           shownHeight = shownHeight](ImageFormat format) {
        PreparedImage same;
        same.data.assign(source.begin(), source.end());
        same.format = format;
        same.width = shownWidth;
        same.height = shownHeight;
        return same;
    };

    if (!compress && pixels <= pixelLimit && header->format) return asSource(*header->format);

    auto reencoded = compressed(source, *header, std::max(header->width, header->height));
    if (!reencoded) return std::nullopt;

    // A lossless picture (a screenshot, a diagram) often stays smaller as PNG than as JPEG; keep it
    // then, unless it carries a location that re-encoding would have stripped.
    if (reencoded->data.size() >= source.size() && pixels <= pixelLimit &&
        header->format == ImageFormat::png && !header->hasLocation) {
        return asSource(ImageFormat::png);
    }
    reencoded->originalBytes = static_cast<std::int64_t>(source.size());
    return reencoded;
}

std::string summary(int width, int height, std::int64_t bytes) {
    // Decimal units, as file managers show sizes.
    static constexpr const char* kUnits[] = {"bytes", "KB", "MB", "GB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000.0 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    char size[32];
    if (unit == 0) {
        std::snprintf(size, sizeof size, "%lld %s", static_cast<long long>(bytes), kUnits[0]);
    } else {
        std::snprintf(size, sizeof size, value < 10 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    }
    return std::to_string(width) + " × " + std::to_string(height) + " · " + size;
}

}  // namespace kestrune::ImageCompressor

namespace kestrune {
std::string PreparedImage::summary() const {
    return ImageCompressor::summary(width, height, static_cast<std::int64_t>(data.size()));
}
}  // namespace kestrune
