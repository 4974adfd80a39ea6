#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"

#include <algorithm>
#include <cmath>

#include "KestruneRemoteKit/Imaging/ImageDecoding.hpp"
#include "KestruneRemoteKit/Imaging/JpegThumbnailer.hpp"

namespace kestrune::ImageCompressor {

namespace {

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

std::optional<PreparedImage> compressed(std::string_view source, const ImageHeader& header,
                                        int longestSide) {
    const int target = std::min(longestSide, kMaxPixelSize);
    if (header.format == ImageFormat::jpeg) {
        // Anything the fast route does not take (CMYK, damage libjpeg rejects) goes the general
        // way.
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
    return ImageDecoding::reencode(source, header, target);
}

}  // namespace

std::pair<int, int> orientedSize(int width, int height, int orientation) {
    if (orientation >= 5 && orientation <= 8) return {height, width};
    return {width, height};
}

std::optional<ImageHeader> readHeader(std::string_view source) {
    if (source.empty()) return std::nullopt;
    return ImageDecoding::readHeader(source);
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
