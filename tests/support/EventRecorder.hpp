#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace kestrune::testing {

// Collects notices delivered on another thread, for tests that wait for them.
class EventRecorder {
  public:
    void add(std::string notice) {
        std::lock_guard guard(lock_);
        notices_.push_back(std::move(notice));
        changed_.notify_all();
    }
    std::function<void()> recorder(std::string notice) {
        return [this, notice] { add(notice); };
    }
    // Waits until `count` notices arrived (or the limit passed) and returns all of them.
    std::vector<std::string> waitFor(std::size_t count,
                                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, limit, [&] { return notices_.size() >= count; });
        return notices_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> notices_;
};

}  // namespace kestrune::testing
