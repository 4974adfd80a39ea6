#include "Kestrune/phone/images/ClipboardImage.hpp"

#include <vips/vips.h>

#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace kestrune::ClipboardImage {

std::string_view mimeType(ImageFormat format) {
    switch (format) {
        case ImageFormat::jpeg:
            return kJpegType;
        case ImageFormat::png:
            return kPngType;
        case ImageFormat::heic:
            return kHeicType;
    }
    return kJpegType;
}

std::optional<Prepared> prepare(std::string_view data, std::int64_t maxPixels) {
    const auto header = ImageCompressor::readHeader(data);
    if (!header || !header->format) return std::nullopt;
    if (std::int64_t{header->width} * header->height > maxPixels) return std::nullopt;

    VipsImage* image = vips_image_new_from_buffer(data.data(), data.size(), "", "access",
                                                  VIPS_ACCESS_SEQUENTIAL, "fail", TRUE, nullptr);
    if (image == nullptr) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsObjectPtr<VipsImage> owned(image);
    // Pasted bitmaps carry no orientation tag that every application honours: turn the pixels.
    VipsImage* upright = nullptr;
    if (vips_autorot(image, &upright, nullptr) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsObjectPtr<VipsImage> ownedUpright(upright);
    void* buffer = nullptr;
    size_t length = 0;
    if (vips_tiffsave_buffer(upright, &buffer, &length, "strip", TRUE, nullptr) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    Prepared prepared;
    prepared.original.assign(data.begin(), data.end());
    prepared.type = std::string(mimeType(*header->format));
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    prepared.tiff.assign(bytes, bytes + length);
    g_free(buffer);
    return prepared;
}

}  // namespace kestrune::ClipboardImage
