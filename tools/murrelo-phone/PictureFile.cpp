#include "PictureFile.hpp"

#include <array>

namespace kestrune::phone {

namespace {

bool hasHeicBrand(std::string_view brand) {
    static constexpr std::array<std::string_view, 6> kHeicBrands = {"heic", "heix", "hevc",
                                                                    "hevx", "heim", "heis"};
    for (auto heic : kHeicBrands) {
        if (brand == heic) return true;
    }
    return false;
}

std::uint32_t bigEndian32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

}  // namespace

std::optional<ImageFormat> sniffImageFormat(std::string_view bytes) {
    if (bytes.starts_with(std::string_view("\x89PNG\r\n\x1a\n", 8))) return ImageFormat::png;
    if (bytes.starts_with("\xFF\xD8\xFF")) return ImageFormat::jpeg;
    // ftyp box: size, "ftyp", major brand, minor version, then compatible brands up to its size.
    if (bytes.size() >= 16 && bytes.substr(4, 4) == "ftyp") {
        const std::size_t boxSize = std::min<std::size_t>(bigEndian32(bytes, 0), bytes.size());
        if (hasHeicBrand(bytes.substr(8, 4))) return ImageFormat::heic;
        // Generic HEIF ("mif1") is HEIC only when a HEIC brand is listed as compatible; AVIF is
        // not.
        for (std::size_t at = 16; at + 4 <= boxSize; at += 4) {
            if (hasHeicBrand(bytes.substr(at, 4))) return ImageFormat::heic;
        }
    }
    return std::nullopt;
}

std::string_view fileExtension(ImageFormat format) {
    switch (format) {
        case ImageFormat::jpeg:
            return "jpg";
        case ImageFormat::png:
            return "png";
        case ImageFormat::heic:
            return "heic";
    }
    return "bin";
}

}  // namespace kestrune::phone
