#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Kestrune/paste/Pasteboard.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// The Wayland clipboard of a wlroots session through zwlr_data_control_v1, which needs no focus:
// a connection and thread of its own keep the selection's data offers and serve our own data to
// whoever pastes, while the main thread may be busy. Completions are posted to the main queue.
class DataControlClipboard final : public Pasteboard {
  public:
    // Without a compositor offering data control every operation completes at once: snapshots
    // are empty and writes do nothing (the reason is logged).
    explicit DataControlClipboard(MainQueue& main);
    ~DataControlClipboard() override;
    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    void takeSnapshot(std::function<void(PasteboardSnapshot)> done) override;
    void writeText(std::string text, std::function<void()> done) override;
    void restore(PasteboardSnapshot snapshot, std::function<void()> done) override;
    // Runs `done` on the main queue once a receiver has fetched in full the text set by the last
    // writeText (true), or once `bound` has passed first (false).
    void whenTaken(std::chrono::milliseconds bound, std::function<void(bool taken)> done) override;

    struct Loop;

  private:
    void taken(std::uint64_t generation);

    MainQueue& main_;
    std::unique_ptr<Loop> loop_;
    // Main thread only: the last writeText's number, the last one a receiver fetched, and those
    // waiting for it.
    std::uint64_t written_ = 0;
    std::uint64_t fetched_ = 0;
    std::vector<std::shared_ptr<std::function<void(bool)>>> waiting_;
    Lifetime lifetime_;
};

}  // namespace kestrune
