#include "KestruneRemoteKit/Imaging/LanczosResampler.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrune {

namespace {

constexpr double kLobes = 3.0;
constexpr std::int32_t kOne = 1 << ResampleAxis::kWeightBits;
constexpr std::int32_t kHalf = kOne / 2;
// Eight 16-bit products fill one SSE register.
constexpr int kTapGroup = 8;
// Samples summed per pass of the vertical filter: their running sums stay in the L1 cache.
constexpr int kColumnBlock = 2048;

double lanczos3(double x) {
    if (x == 0.0) return 1.0;
    if (std::abs(x) >= kLobes) return 0.0;
    const double px = std::numbers::pi * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

std::uint8_t clampToByte(std::int32_t sum) {
    return static_cast<std::uint8_t>(
        std::clamp((sum + kHalf) >> ResampleAxis::kWeightBits, 0, 255));
}

}  // namespace

ResampleAxis lanczos3Axis(int inputSize, int outputSize) {
    ResampleAxis axis;
    axis.inputSize = inputSize;
    axis.first.resize(outputSize);
    if (inputSize == outputSize) {
        axis.weights.assign(outputSize, static_cast<std::int16_t>(kOne));
        for (int i = 0; i < outputSize; ++i) axis.first[i] = i;
        return axis;
    }
    const double shrink = static_cast<double>(inputSize) / outputSize;
    // Shrinking stretches the kernel over more input samples, so that it also filters out detail
    // the output cannot hold.
    const double stretch = std::max(shrink, 1.0);
    const double radius = kLobes * stretch;
    // Whole multiples of kTapGroup keep the tap loops free of leftovers; the extra taps lie outside
    // the kernel and weigh nothing.
    const int needed = static_cast<int>(std::ceil(2 * radius)) + 1;
    axis.taps = std::min(inputSize, (needed + kTapGroup - 1) / kTapGroup * kTapGroup);
    axis.weights.assign(static_cast<std::size_t>(outputSize) * axis.taps, 0);
    std::vector<double> exact(axis.taps);
    for (int i = 0; i < outputSize; ++i) {
        const double centre = (i + 0.5) * shrink - 0.5;
        const int lowest = static_cast<int>(std::ceil(centre - radius));
        const int first = std::clamp(lowest, 0, inputSize - axis.taps);
        axis.first[i] = first;
        std::fill(exact.begin(), exact.end(), 0.0);
        double total = 0;
        for (int k = 0; k < axis.taps; ++k) {
            const int position = lowest + k;
            const double weight = lanczos3((position - centre) / stretch);
            exact[std::clamp(position, 0, inputSize - 1) - first] += weight;
            total += weight;
        }
        // Rounded weights must still sum to exactly one, or flat areas would drift in brightness;
        // the rounding error goes to the largest weight, where it matters least.
        std::int16_t* fixed = &axis.weights[static_cast<std::size_t>(i) * axis.taps];
        std::int32_t sum = 0;
        int largest = 0;
        for (int k = 0; k < axis.taps; ++k) {
            fixed[k] = static_cast<std::int16_t>(std::lround(exact[k] / total * kOne));
            sum += fixed[k];
            if (exact[k] > exact[largest]) largest = k;
        }
        fixed[largest] = static_cast<std::int16_t>(fixed[largest] + kOne - sum);
    }
    return axis;
}

__attribute__((target_clones("avx2", "default"))) void resampleRows(
    const std::uint8_t* const* rows, const std::int16_t* weights, int taps, int length,
    std::uint8_t* out, std::vector<std::int32_t>& scratch) {
    // Tap by tap along a block of the row keeps the inner loop contiguous, which the compiler
    // vectorises, and the sums in cache.
    scratch.resize(kColumnBlock);
    std::int32_t* sums = scratch.data();
    for (int start = 0; start < length; start += kColumnBlock) {
        const int count = std::min(kColumnBlock, length - start);
        std::fill_n(sums, count, 0);
        for (int k = 0; k < taps; ++k) {
            const std::int16_t weight = weights[k];
            if (weight == 0) continue;
            const std::uint8_t* row = rows[k] + start;
            for (int x = 0; x < count; ++x) sums[x] += static_cast<std::int16_t>(row[x]) * weight;
        }
        for (int x = 0; x < count; ++x) out[start + x] = clampToByte(sums[x]);
    }
}

__attribute__((target_clones("avx2", "default"))) void resampleRow(
    const std::uint8_t* row, const ResampleAxis& axis, int bands, std::uint8_t* out,
    std::vector<std::uint8_t>& plane) {
    // Each band on its own makes every output a dot product of contiguous samples.
    const int outputs = static_cast<int>(axis.first.size());
    const int taps = axis.taps;
    const int inputs = axis.inputSize;
    plane.resize(inputs);
    for (int band = 0; band < bands; ++band) {
        for (int x = 0; x < inputs; ++x) plane[x] = row[x * bands + band];
        for (int i = 0; i < outputs; ++i) {
            const std::uint8_t* in = plane.data() + axis.first[i];
            const std::int16_t* weight = &axis.weights[static_cast<std::size_t>(i) * taps];
            std::int32_t sum = 0;
            for (int k = 0; k < taps; ++k) sum += static_cast<std::int16_t>(in[k]) * weight[k];
            out[i * bands + band] = clampToByte(sum);
        }
    }
}

}  // namespace kestrune
