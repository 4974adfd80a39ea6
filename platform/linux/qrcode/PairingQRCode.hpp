#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrune::PairingQRCode {

// The code as an 8-bit grey bitmap, rows top to bottom: 0 for a dark module, 255 for light.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width × height
};

// Scanners need this many light modules around the code to find it (the QR standard's quiet
// zone); the window's own background is not white enough to count.
inline constexpr int kQuietZoneModules = 4;

// The text's UTF-8 bytes as a QR code at error-correction level M, each module `scale` pixels
// square; none when the text does not fit a QR code or `scale` is below 1.
std::optional<Bitmap> image(std::string_view text, int scale);

}  // namespace kestrune::PairingQRCode
