#pragma once

#include <chrono>
#include <map>
#include <thread>
#include <utility>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// A queue that runs nothing by itself: tests call runUntilIdle() and advance() to move virtual
// time, so a 30-minute timer fires in microseconds and in a known order. Single-threaded use only.
class ManualMainQueue final : public MainQueue {
  public:
    using WallClock = std::chrono::system_clock;

    explicit ManualMainQueue(WallClock::time_point start = WallClock::time_point{
                                 std::chrono::seconds{1'800'000'000}});

    void post(std::function<void()> work) override;
    TaskId postAfter(Duration delay, std::function<void()> work) override;
    void cancel(TaskId id) override;
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }

    // Runs every task that is due now, including tasks they post for now. Returns how many ran.
    std::size_t runUntilIdle();

    // Moves virtual time forward by `by`, running each timer at its own due time, in order.
    void advance(Duration by);

    // Virtual time since the queue was made, and the matching wall-clock reading.
    Duration elapsed() const { return now_; }
    WallClock::time_point wallNow() const;

    std::size_t pendingCount() const { return tasks_.size(); }

  private:
    struct Key {
        Duration due;
        TaskId id;
        auto operator<=>(const Key&) const = default;
    };

    std::map<Key, std::function<void()>> tasks_;
    std::map<TaskId, Duration> dueById_;
    Duration now_{};
    TaskId nextId_ = 1;
    WallClock::time_point start_;
    std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace kestrune
