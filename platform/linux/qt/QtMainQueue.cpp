#include "platform/linux/qt/QtMainQueue.hpp"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>

namespace kestrune {

// Delayed work by id, so that a cancel from any thread wins over a timer that has not fired.
struct QtMainQueue::Timers {
    std::mutex lock;
    TaskId nextId = 1;
    std::map<TaskId, std::function<void()>> pending;

    std::function<void()> take(TaskId id) {
        std::lock_guard guard(lock);
        auto found = pending.find(id);
        if (found == pending.end()) return {};
        auto work = std::move(found->second);
        pending.erase(found);
        return work;
    }
};

QtMainQueue::QtMainQueue()
    : context_(std::make_unique<QObject>()), timers_(std::make_shared<Timers>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> work) {
    // Queued on the context's thread; dropped by Qt if the context is gone by then.
    QMetaObject::invokeMethod(
        context_.get(), [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

TaskId QtMainQueue::postAfter(Duration delay, std::function<void()> work) {
    TaskId id = 0;
    {
        std::lock_guard guard(timers_->lock);
        id = timers_->nextId++;
        timers_->pending.emplace(id, std::move(work));
    }
    // Rounded up: work must never run before its delay has passed.
    // Capped at Qt's longest timer (about 24 days); no timer of ours is nearly that long.
    const auto milliseconds = std::min<std::int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, Duration::zero())).count(),
        std::numeric_limits<int>::max());
    QObject* context = context_.get();
    QMetaObject::invokeMethod(
        context,
        [context, milliseconds, id, weak = std::weak_ptr<Timers>(timers_)] {
            QTimer::singleShot(static_cast<int>(milliseconds), Qt::PreciseTimer, context,
                               [id, weak] {
                                   auto timers = weak.lock();
                                   if (!timers) return;
                                   if (auto work = timers->take(id)) work();
                               });
        },
        Qt::QueuedConnection);
    return id;
}

void QtMainQueue::cancel(TaskId id) {
    std::lock_guard guard(timers_->lock);
    timers_->pending.erase(id);
}

bool QtMainQueue::isCurrent() const {
    return QThread::currentThread() == context_->thread();
}

}  // namespace kestrune
