#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace kestrune {

// libjpeg's IDCT can scale by M/8 while decoding. Of those scales, 1/8, 2/8, 4/8 and 8/8 run on
// libjpeg-turbo's fast paths; the others (3/8, 5/8, …) are slower than the next larger power of
// two, which decodes more pixels yet finishes sooner. So: the smallest of the four that leaves at
// least `minLongest` pixels on the longer side, 8 when none does. Nothing is lost against a full
// decode, as the picture is shrunk below that size afterwards anyway.
int jpegScaleEighths(int storedLongest, int minLongest);

// Decodes a greyscale or colour (YCbCr, RGB) JPEG from memory at a reduced scale, row by row, into
// interleaved 8-bit samples. A file cut short decodes with the missing part filled in grey; any
// error libjpeg reports ends the decoding with false.
class ScaledJpegDecoder {
  public:
    ScaledJpegDecoder();
    ~ScaledJpegDecoder();
    ScaledJpegDecoder(const ScaledJpegDecoder&) = delete;
    ScaledJpegDecoder& operator=(const ScaledJpegDecoder&) = delete;

    // Reads the header and picks the scale. False for CMYK and YCCK, which need colour
    // management, and for anything libjpeg cannot read. `source` must outlive the decoder.
    bool open(std::string_view source, int minLongest);
    int width() const;  // at the chosen scale
    int height() const;
    int bands() const;  // 1 for greyscale, 3 for RGB

    // Decodes the next `count` rows into `rows`; the last call also finishes the stream.
    bool readRows(std::uint8_t* const* rows, int count);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrune
