#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace kestrune {

// A lock-free ring of samples between exactly one writer (the audio thread) and one reader (a
// recognizer's thread). Writing never blocks and never allocates: when the reader falls so far
// behind that the ring is full, the newest samples are dropped and counted.
class AudioSampleRing {
  public:
    // Rounded up to a power of two, so positions wrap with a mask.
    explicit AudioSampleRing(std::size_t minimumCapacity);
    AudioSampleRing(const AudioSampleRing&) = delete;
    AudioSampleRing& operator=(const AudioSampleRing&) = delete;

    std::size_t capacity() const { return mask_ + 1; }

    // Writer thread only. Returns how many samples were stored.
    std::size_t write(std::span<const float> samples);

    // Reader thread only: copies up to `into.size()` samples out. Returns how many.
    std::size_t read(std::span<float> into);

    // Samples the writer had to drop because the ring was full.
    std::uint64_t droppedCount() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    std::unique_ptr<float[]> storage_;
    std::size_t mask_;
    // Free-running positions; their difference is the fill level.
    std::atomic<std::uint64_t> writePosition_{0};
    std::atomic<std::uint64_t> readPosition_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace kestrune
