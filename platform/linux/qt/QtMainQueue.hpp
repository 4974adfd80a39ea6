#pragma once

#include <memory>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

class QObject;

namespace kestrune {

// The application's main queue: work runs on the Qt event loop of the thread that made the queue
// (the GUI thread). Posting and cancelling are safe from any thread. Work still pending when the
// queue goes is dropped.
class QtMainQueue final : public MainQueue {
  public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(std::function<void()> work) override;
    TaskId postAfter(Duration delay, std::function<void()> work) override;
    void cancel(TaskId id) override;
    bool isCurrent() const override;

    struct Timers;

  private:
    std::unique_ptr<QObject> context_;
    std::shared_ptr<Timers> timers_;
};

}  // namespace kestrune
