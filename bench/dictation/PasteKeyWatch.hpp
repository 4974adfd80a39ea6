#pragma once

#include <chrono>
#include <memory>

namespace kestrune::bench {

// When the paste key last reached a window, seen on an X connection of the benchmark's own (any
// number of clients may watch a window's key presses), from a thread of its own.
class PasteKeyWatch {
  public:
    explicit PasteKeyWatch(unsigned long window);
    ~PasteKeyWatch();
    PasteKeyWatch(const PasteKeyWatch&) = delete;
    PasteKeyWatch& operator=(const PasteKeyWatch&) = delete;

    // Never, until the key has been seen.
    std::chrono::steady_clock::time_point last() const;

    struct Watch;

  private:
    std::unique_ptr<Watch> watch_;
};

}  // namespace kestrune::bench
