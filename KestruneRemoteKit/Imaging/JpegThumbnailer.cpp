#include "KestruneRemoteKit/Imaging/JpegThumbnailer.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "KestruneRemoteKit/Imaging/JpegRowEncoder.hpp"
#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"
#include "KestruneRemoteKit/Imaging/LanczosResampler.hpp"

namespace kestrune {

namespace {

// A header may claim up to 65,500 pixels a side; even at 1/8 scale that can be hundreds of
// megabytes, more than a phone picture should take. Such pictures go the streaming way instead.
constexpr std::size_t kMaxDecodedBytes = std::size_t{64} << 20;
// libjpeg produces an MCU row (8 or 16 pixel rows) at a time; handing over as many at once keeps
// the wake-ups of the shrinking thread few.
constexpr int kRowsPerHandOver = 16;
// Marks rowsReady once decoding has failed.
constexpr int kDecodeFailed = -1;

// Where a stored pixel appears once the picture is turned upright (EXIF orientations 1–8).
struct Orientation {
    bool mirrorX = false;     // stored columns run right to left
    bool mirrorY = false;     // stored rows run bottom to top
    bool transposed = false;  // stored rows become columns

    explicit Orientation(int exif)
        : mirrorX(exif == 2 || exif == 3 || exif == 7 || exif == 8),
          mirrorY(exif == 3 || exif == 4 || exif == 6 || exif == 7),
          transposed(exif >= 5 && exif <= 8) {}
    bool identity() const { return !mirrorX && !mirrorY && !transposed; }
};

// Copies stored row `y` of a `width` × `height` picture to its place in the upright picture.
void placeRow(const std::uint8_t* row, int y, int width, int height, int bands,
              Orientation orientation, std::uint8_t* upright) {
    const int uprightWidth = orientation.transposed ? height : width;
    const int storedY = orientation.mirrorY ? height - 1 - y : y;
    for (int x = 0; x < width; ++x) {
        const int storedX = orientation.mirrorX ? width - 1 - x : x;
        const int ux = orientation.transposed ? storedY : storedX;
        const int uy = orientation.transposed ? storedX : storedY;
        std::uint8_t* to = upright + (static_cast<std::size_t>(uy) * uprightWidth + ux) * bands;
        std::copy_n(row + static_cast<std::size_t>(x) * bands, bands, to);
    }
}

// Decoded rows, filled by the decoding thread and read by the shrinking one.
struct DecodedRows {
    std::unique_ptr<std::uint8_t[]> pixels;
    std::size_t stride = 0;
    std::atomic<int> ready{0};  // rows decoded so far, or kDecodeFailed
    std::atomic<bool> abandoned{false};

    const std::uint8_t* row(int y) const { return pixels.get() + stride * y; }

    // Blocks until rows [0, count) are decoded; false if decoding failed first.
    bool waitFor(int count) const {
        int have = ready.load(std::memory_order_acquire);
        while (have != kDecodeFailed && have < count) {
            ready.wait(have, std::memory_order_acquire);
            have = ready.load(std::memory_order_acquire);
        }
        return have != kDecodeFailed;
    }
};

void decodeAll(ScaledJpegDecoder& decoder, DecodedRows& rows) {
    std::uint8_t* batch[kRowsPerHandOver];
    const int height = decoder.height();
    for (int y = 0; y < height && !rows.abandoned.load(std::memory_order_relaxed);) {
        const int count = std::min(kRowsPerHandOver, height - y);
        for (int i = 0; i < count; ++i) batch[i] = rows.pixels.get() + rows.stride * (y + i);
        if (!decoder.readRows(batch, count)) {
            rows.ready.store(kDecodeFailed, std::memory_order_release);
            rows.ready.notify_one();
            return;
        }
        y += count;
        rows.ready.store(y, std::memory_order_release);
        rows.ready.notify_one();
    }
}

std::optional<Bytes> shrinkAndEncode(const DecodedRows& decoded, int decodedWidth,
                                     int decodedHeight, int bands, int width, int height,
                                     Orientation orientation, int quality) {
    const ResampleAxis across = lanczos3Axis(decodedWidth, width);
    const ResampleAxis down = lanczos3Axis(decodedHeight, height);
    JpegRowEncoder encoder;
    if (!encoder.start(orientation.transposed ? height : width,
                       orientation.transposed ? width : height, bands, quality)) {
        return std::nullopt;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bands;
    std::vector<std::uint8_t> tall(decoded.stride), row(rowBytes);
    std::vector<std::uint8_t> upright(orientation.identity() ? 0 : rowBytes * height);
    std::vector<const std::uint8_t*> sources(down.taps);
    std::vector<std::int32_t> sums;
    std::vector<std::uint8_t> plane;
    for (int y = 0; y < height; ++y) {
        const int first = down.first[y];
        if (!decoded.waitFor(first + down.taps)) return std::nullopt;
        for (int k = 0; k < down.taps; ++k) sources[k] = decoded.row(first + k);
        resampleRows(sources.data(), &down.weights[static_cast<std::size_t>(y) * down.taps],
                     down.taps, static_cast<int>(decoded.stride), tall.data(), sums);
        resampleRow(tall.data(), across, bands, row.data(), plane);
        if (orientation.identity()) {
            // Upright pictures are encoded row by row, while the rest is still being decoded.
            const std::uint8_t* encoded = row.data();
            if (!encoder.writeRows(&encoded, 1)) return std::nullopt;
        } else {
            placeRow(row.data(), y, width, height, bands, orientation, upright.data());
        }
    }
    if (!orientation.identity()) {
        const int uprightRows = orientation.transposed ? width : height;
        const std::size_t uprightStride = upright.size() / uprightRows;
        std::vector<const std::uint8_t*> rows(uprightRows);
        for (int y = 0; y < uprightRows; ++y) rows[y] = upright.data() + uprightStride * y;
        if (!encoder.writeRows(rows.data(), uprightRows)) return std::nullopt;
    }
    return encoder.finish();
}

}  // namespace

std::optional<JpegThumbnail> jpegThumbnail(std::string_view source, int width, int height,
                                           int orientation, int quality) {
    if (width <= 0 || height <= 0) return std::nullopt;
    ScaledJpegDecoder decoder;
    if (!decoder.open(source, std::max(width, height))) return std::nullopt;
    const int bands = decoder.bands();
    DecodedRows decoded;
    decoded.stride = static_cast<std::size_t>(decoder.width()) * bands;
    if (decoded.stride * decoder.height() > kMaxDecodedBytes) return std::nullopt;
    // Every byte is written by the decoder before it is read, so the buffer starts uninitialised.
    decoded.pixels.reset(new (std::nothrow) std::uint8_t[decoded.stride * decoder.height()]);
    if (!decoded.pixels) return std::nullopt;

    std::thread decoding;
    try {
        decoding = std::thread([&] { decodeAll(decoder, decoded); });
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    const Orientation turn(orientation);
    auto data = shrinkAndEncode(decoded, decoder.width(), decoder.height(), bands, width, height,
                                turn, quality);
    decoded.abandoned.store(true, std::memory_order_relaxed);
    decoding.join();
    if (!data) return std::nullopt;
    JpegThumbnail thumbnail;
    thumbnail.data = std::move(*data);
    thumbnail.width = turn.transposed ? height : width;
    thumbnail.height = turn.transposed ? width : height;
    return thumbnail;
}

}  // namespace kestrune
