#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::tray {

// A short feedback text beside the status icon (`flash`): shown at once, taken away after
// kShowTime. A newer text replaces the older one and gets its own full kShowTime; the older
// one's expiry no longer clears anything. Runs on `main`; the callbacks run there too.
class StatusFeedback {
  public:
    static constexpr std::chrono::seconds kShowTime{4};

    struct Dependencies {
        MainQueue& main;
        std::function<void(const std::string& text)> show;
        std::function<void()> clear;
    };

    explicit StatusFeedback(Dependencies dependencies);
    // A pending expiry is cancelled: nothing runs after the feedback is gone.
    ~StatusFeedback();
    StatusFeedback(const StatusFeedback&) = delete;
    StatusFeedback& operator=(const StatusFeedback&) = delete;

    void flash(const std::string& text);
    bool isShowing() const { return pending_ != 0; }

  private:
    Dependencies deps_;
    TaskId pending_ = 0;
};

}  // namespace kestrune::tray
