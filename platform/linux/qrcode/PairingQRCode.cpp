#include "platform/linux/qrcode/PairingQRCode.hpp"

#include <qrencode.h>

#include <memory>
#include <string>

namespace kestrune::PairingQRCode {

namespace {

// A version-40 code is 177 modules across; larger scales would only make bitmaps nobody shows.
constexpr int kMaxScale = 64;

}  // namespace

std::optional<Bitmap> image(std::string_view text, int scale) {
    if (scale < 1 || scale > kMaxScale) return std::nullopt;
    // 8-bit mode over the exact bytes, so the link is carried as it is (no Kanji or
    // alphanumeric guessing).
    const std::string data(text);
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(data.size()),
                          reinterpret_cast<const unsigned char*>(data.data()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return std::nullopt;
    const int modules = code->width + 2 * kQuietZoneModules;
    Bitmap bitmap;
    bitmap.width = bitmap.height = modules * scale;
    bitmap.pixels.assign(static_cast<std::size_t>(bitmap.width) * bitmap.height, 255);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // Bit 0 of each module byte is "dark"; the other bits describe what the module is.
            if ((code->data[y * code->width + x] & 1) == 0) continue;
            const int left = (x + kQuietZoneModules) * scale;
            const int top = (y + kQuietZoneModules) * scale;
            for (int row = top; row < top + scale; ++row) {
                std::fill_n(
                    bitmap.pixels.begin() + static_cast<std::ptrdiff_t>(row) * bitmap.width + left,
                    scale, std::uint8_t{0});
            }
        }
    }
    return bitmap;
}

}  // namespace kestrune::PairingQRCode
