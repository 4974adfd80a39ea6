#include "KestruneRemoteKit/Imaging/JpegThumbnailer.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "KestruneRemoteKit/Imaging/JpegRowEncoder.hpp"
#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"
#include "KestruneRemoteKit/Imaging/LanczosResampler.hpp"

namespace kestrune {

namespace {

// libjpeg produces an MCU row (8 or 16 pixel rows) at a time; handing over as many at once keeps
// the wake-ups of the other thread few.
constexpr int kRowsPerHandOver = 16;
// Rows the decoder may run ahead of the filter window, so neither thread waits on the other for
// every hand-over.
constexpr int kRowsOfSlack = 4 * kRowsPerHandOver;

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

// Decoded rows in a ring: the decoding thread fills rows ahead while the shrinking thread reads
// the window of rows its filter needs. Memory holds a few dozen rows instead of the whole picture,
// and they are still in cache when read.
class RowRing {
  public:
    RowRing(int capacity, std::size_t stride)
        : capacity_(capacity), stride_(stride), pixels_(new std::uint8_t[capacity * stride]) {}

    std::uint8_t* row(int y) { return pixels_.get() + stride_ * (y % capacity_); }
    std::size_t stride() const { return stride_; }

    // Decoder: blocks until rows up to `end` may be written over older ones; false once the
    // reader has given up.
    bool waitForRoom(int end) {
        int released = released_.load(std::memory_order_acquire);
        while (released != kAbandoned && released < end - capacity_) {
            released_.wait(released, std::memory_order_acquire);
            released = released_.load(std::memory_order_acquire);
        }
        return released != kAbandoned;
    }
    void publish(int end) {
        ready_.store(end, std::memory_order_release);
        ready_.notify_one();
    }
    void fail() { publish(kFailed); }

    // Reader: blocks until rows [0, end) are decoded; false if decoding failed first.
    bool waitForRows(int end) {
        int ready = ready_.load(std::memory_order_acquire);
        while (ready != kFailed && ready < end) {
            ready_.wait(ready, std::memory_order_acquire);
            ready = ready_.load(std::memory_order_acquire);
        }
        return ready != kFailed;
    }
    // Rows below `end` will not be read again.
    void release(int end) {
        released_.store(end, std::memory_order_release);
        released_.notify_one();
    }
    void abandon() { release(kAbandoned); }

  private:
    static constexpr int kFailed = -1;
    static constexpr int kAbandoned = std::numeric_limits<int>::max();

    const int capacity_;
    const std::size_t stride_;
    std::unique_ptr<std::uint8_t[]> pixels_;
    std::atomic<int> ready_{0};
    std::atomic<int> released_{0};
};

void decodeAll(ScaledJpegDecoder& decoder, RowRing& ring) {
    std::uint8_t* batch[kRowsPerHandOver];
    const int height = decoder.height();
    for (int y = 0; y < height;) {
        const int count = std::min(kRowsPerHandOver, height - y);
        if (!ring.waitForRoom(y + count)) return;
        for (int i = 0; i < count; ++i) batch[i] = ring.row(y + i);
        if (!decoder.readRows(batch, count)) {
            ring.fail();
            return;
        }
        y += count;
        ring.publish(y);
    }
}

std::optional<Bytes> shrinkAndEncode(RowRing& decoded, const ResampleAxis& across,
                                     const ResampleAxis& down, int bands, Orientation orientation,
                                     int quality) {
    const int width = static_cast<int>(across.first.size());
    const int height = static_cast<int>(down.first.size());
    JpegRowEncoder encoder;
    if (!encoder.start(orientation.transposed ? height : width,
                       orientation.transposed ? width : height, bands, quality)) {
        return std::nullopt;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bands;
    std::vector<std::uint8_t> tall(decoded.stride()), row(rowBytes);
    std::vector<std::uint8_t> upright(orientation.identity() ? 0 : rowBytes * height);
    std::vector<const std::uint8_t*> sources(down.taps);
    std::vector<std::int32_t> sums;
    std::vector<std::uint8_t> plane;
    for (int y = 0; y < height; ++y) {
        const int first = down.first[y];
        if (y == 0 || first != down.first[y - 1]) decoded.release(first);
        if (!decoded.waitForRows(first + down.taps)) return std::nullopt;
        for (int k = 0; k < down.taps; ++k) sources[k] = decoded.row(first + k);
        resampleRows(sources.data(), &down.weights[static_cast<std::size_t>(y) * down.taps],
                     down.taps, static_cast<int>(decoded.stride()), tall.data(), sums);
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
    const ResampleAxis across = lanczos3Axis(decoder.width(), width);
    const ResampleAxis down = lanczos3Axis(decoder.height(), height);
    RowRing ring(down.taps + kRowsOfSlack, static_cast<std::size_t>(decoder.width()) * bands);

    std::thread decoding;
    try {
        decoding = std::thread([&] { decodeAll(decoder, ring); });
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    // However this thread leaves (even by an exception), the decoder must stop, as it may be
    // waiting for room that will not come, and be joined before the ring goes away.
    struct StopDecoding {
        RowRing& ring;
        std::thread& thread;
        ~StopDecoding() {
            ring.abandon();
            thread.join();
        }
    } stopDecoding{ring, decoding};
    const Orientation turn(orientation);
    auto data = shrinkAndEncode(ring, across, down, bands, turn, quality);
    if (!data) return std::nullopt;
    JpegThumbnail thumbnail;
    thumbnail.data = std::move(*data);
    thumbnail.width = turn.transposed ? height : width;
    thumbnail.height = turn.transposed ? width : height;
    return thumbnail;
}

}  // namespace kestrune
