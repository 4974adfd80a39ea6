#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "Kestrune/paste/PasteboardSnapshot.hpp"

namespace kestrune {

// The general clipboard. Each operation completes asynchronously on the main queue, so that the
// main thread stays free while another application (or this one) answers clipboard requests.
class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    virtual void takeSnapshot(std::function<void(PasteboardSnapshot)> done) = 0;
    // Replaces the contents with a plain UTF-8 text, offered under every text type.
    virtual void writeText(std::string text, std::function<void()> done) = 0;
    // Replaces the contents with a snapshot; an empty snapshot leaves the clipboard empty.
    virtual void restore(PasteboardSnapshot snapshot, std::function<void()> done) = 0;
    // Runs `done` on the main queue once a receiver has fetched in full the text set by the last
    // writeText (true), or once `bound` has passed first (false).
    virtual void whenTaken(std::chrono::milliseconds bound,
                           std::function<void(bool taken)> done) = 0;
};

}  // namespace kestrune
