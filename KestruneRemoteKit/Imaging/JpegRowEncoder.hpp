#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {

// Encodes a baseline JPEG (JFIF, 4:2:0 for colour, no other metadata) from rows of interleaved
// 8-bit samples as they become ready, so encoding can overlap whatever produces the rows.
class JpegRowEncoder {
  public:
    JpegRowEncoder();
    ~JpegRowEncoder();
    JpegRowEncoder(const JpegRowEncoder&) = delete;
    JpegRowEncoder& operator=(const JpegRowEncoder&) = delete;

    // `bands` is 1 (greyscale) or 3 (RGB); `quality` on libjpeg's 1–100 scale.
    bool start(int width, int height, int bands, int quality);
    bool writeRows(const std::uint8_t* const* rows, int count);
    // After all `height` rows: the encoded file.
    std::optional<Bytes> finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrune
