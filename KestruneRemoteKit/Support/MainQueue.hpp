#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kestrune {

using Duration = std::chrono::steady_clock::duration;
using TaskId = std::uint64_t;

// Where an object's work runs: the application's main loop, a serial background queue, or a
// manual queue driven by virtual time in tests. Every timer of the link and of dictation goes
// through this interface, so no logic depends on real sleeping.
class MainQueue {
  public:
    virtual ~MainQueue() = default;

    // Runs `work` later on this queue, after the work already posted.
    virtual void post(std::function<void()> work) = 0;

    // Runs `work` on this queue once `delay` has passed; the id allows cancelling it.
    virtual TaskId postAfter(Duration delay, std::function<void()> work) = 0;

    // Forgets a delayed task that has not run yet; cancelling a finished or unknown id is harmless.
    virtual void cancel(TaskId id) = 0;

    // True when called from the thread that runs this queue's work.
    virtual bool isCurrent() const = 0;
};

}  // namespace kestrune
