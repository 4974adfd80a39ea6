#include "Kestrune/dictation/speech/AudioSampleRing.hpp"

#include <algorithm>
#include <bit>

namespace kestrune {

AudioSampleRing::AudioSampleRing(std::size_t minimumCapacity)
    : mask_(std::bit_ceil(std::max<std::size_t>(minimumCapacity, 2)) - 1) {
    storage_ = std::make_unique<float[]>(mask_ + 1);
}

std::size_t AudioSampleRing::write(std::span<const float> samples) {
    const std::uint64_t write = writePosition_.load(std::memory_order_relaxed);
    const std::uint64_t read = readPosition_.load(std::memory_order_acquire);
    const std::size_t room = capacity() - static_cast<std::size_t>(write - read);
    const std::size_t count = std::min(room, samples.size());
    const std::size_t start = static_cast<std::size_t>(write) & mask_;
    const std::size_t firstPart = std::min(count, capacity() - start);
    std::copy_n(samples.data(), firstPart, storage_.get() + start);
    std::copy_n(samples.data() + firstPart, count - firstPart, storage_.get());
    writePosition_.store(write + count, std::memory_order_release);
    if (count < samples.size()) {
        dropped_.fetch_add(samples.size() - count, std::memory_order_relaxed);
    }
    return count;
}

std::size_t AudioSampleRing::read(std::span<float> into) {
    const std::uint64_t read = readPosition_.load(std::memory_order_relaxed);
    const std::uint64_t write = writePosition_.load(std::memory_order_acquire);
    const std::size_t count = std::min(static_cast<std::size_t>(write - read), into.size());
    const std::size_t start = static_cast<std::size_t>(read) & mask_;
    const std::size_t firstPart = std::min(count, capacity() - start);
    std::copy_n(storage_.get() + start, firstPart, into.data());
    std::copy_n(storage_.get(), count - firstPart, into.data() + firstPart);
    readPosition_.store(read + count, std::memory_order_release);
    return count;
}

}  // namespace kestrune
