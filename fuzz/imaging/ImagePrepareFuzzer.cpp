// Picture preparation on arbitrary bytes: for the phone (re-encoded or sent unchanged) and for the
// clipboard (the received bytes and their TIFF rendering). Nothing may crash, leak or hang.
#include <vips/vips.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Kestrune/phone/images/ClipboardImage.hpp"
#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace {

// Larger inputs add decoding time, not new header or container shapes.
constexpr std::size_t kMaxInputBytes = 256 * 1024;
// Decoders honour a pixel limit only after the header; a tiny file may announce a huge picture,
// and decoding it would spend the fuzzer's time on one input.
constexpr std::int64_t kMaxPixels = 4'000'000;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One thread and no operation cache: findings reproduce, and cached images are not leaks.
    kestrune::ensureVipsStarted();
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    // Damaged inputs are the point here; printing a warning for each one halves the speed.
    g_log_set_handler(
        "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
        nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInputBytes) return 0;
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const auto header = kestrune::ImageCompressor::readHeader(source);
    if (header && std::int64_t{header->width} * header->height > kMaxPixels) return 0;

    kestrune::ImageCompressor::prepare(source, true, kMaxPixels);
    kestrune::ImageCompressor::prepare(source, false, kMaxPixels);
    kestrune::ClipboardImage::prepare(source, kMaxPixels);
    return 0;
}
