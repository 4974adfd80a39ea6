#pragma once

#include <cstdint>
#include <vector>

namespace kestrune {

// Fixed-point Lanczos-3 weights along one axis: output position i is the weighted sum of `taps`
// consecutive input samples starting at first[i]. Edges repeat the outermost sample, folded into
// the weights, so the sums never index outside the input.
struct ResampleAxis {
    static constexpr int kWeightBits = 14;
    int inputSize = 0;
    int taps = 1;
    std::vector<int> first;             // per output position
    std::vector<std::int16_t> weights;  // taps per output position; each group sums to 1 << 14
};

// Sample centres are aligned as libvips aligns them, so the result matches vips_resize.
ResampleAxis lanczos3Axis(int inputSize, int outputSize);

// One output row from `axis.taps` input rows (vertical pass): samples of `length` bytes each.
void resampleRows(const std::uint8_t* const* rows, const std::int16_t* weights, int taps,
                  int length, std::uint8_t* out, std::vector<std::int32_t>& scratch);

// One row shrunk along its length (horizontal pass), pixels of `bands` interleaved samples.
// `plane` is scratch space kept between calls.
void resampleRow(const std::uint8_t* row, const ResampleAxis& axis, int bands, std::uint8_t* out,
                 std::vector<std::uint8_t>& plane);

}  // namespace kestrune
