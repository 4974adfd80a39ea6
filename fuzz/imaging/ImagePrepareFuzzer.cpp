// Picture preparation on arbitrary bytes: for the phone (re-encoded or sent unchanged) and for the
// clipboard (the received bytes and their TIFF rendering). Nothing may crash, leak or hang.
//
// Bounded to small inputs and small pictures so that the target runs at over 1,000 executions a
// second: every header and container shape fits in a few kilobytes, while decoding and encoding
// large pictures only spends time. Large inputs, large pictures and the pixel limit are covered by
// the unit tests (tests/imaging/ImageCompressorTests.cpp).
#include <vips/vips.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Kestrune/phone/images/ClipboardImage.hpp"
#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace {

constexpr std::size_t kMaxInputBytes = 8 * 1024;
// Decoders honour a pixel limit only after the header; a tiny file may announce a huge picture.
// The limits also bound the output: re-encoding only ever scales down.
constexpr std::int64_t kMaxPixels = 64 * 64;
constexpr int kMaxSide = 256;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One thread and no operation cache: findings reproduce, and cached images are not leaks.
    kestrune::ensureVipsStarted();
    vips_concurrency_set(1);
    vips_cache_set_max(0);
    // The ImageMagick loader (libvips marks it untrusted) sniffs every input no other loader
    // recognises and took most of the time; it is a system library with its own fuzzing, and the
    // paths of this code that it reaches (a picture outside the wire formats) are also reached
    // through the GIF and TIFF loaders.
    vips_block_untrusted_set(TRUE);
    // Damaged inputs are the point here; printing a warning for each one halves the speed.
    g_log_set_handler(
        "VIPS", G_LOG_LEVEL_WARNING, [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {},
        nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInputBytes) return 0;
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    // Every preparation starts by reading the header and gives up without one: read it once here.
    const auto header = kestrune::ImageCompressor::readHeader(source);
    if (!header || std::int64_t{header->width} * header->height > kMaxPixels ||
        header->width > kMaxSide || header->height > kMaxSide) {
        return 0;
    }

    // One preparation per input, chosen by the length (which mutations change) rather than by a
    // byte of the input, so the seed pictures stay pictures: a third of the work per execution.
    switch (size % 3) {
        case 0:
            kestrune::ImageCompressor::prepare(source, true, kMaxPixels);
            break;
        case 1:
            kestrune::ImageCompressor::prepare(source, false, kMaxPixels);
            break;
        default:
            kestrune::ClipboardImage::prepare(source, kMaxPixels);
            break;
    }
    return 0;
}
