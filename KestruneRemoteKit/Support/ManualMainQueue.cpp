#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"

namespace kestrune {

namespace {

// `from` + `delay`, with negative delays meaning now and "never" (Duration::max()) not wrapping
// around into the past.
Duration later(Duration from, Duration delay) {
    if (delay <= Duration::zero()) return from;
    return delay >= Duration::max() - from ? Duration::max() : from + delay;
}

}  // namespace

ManualMainQueue::ManualMainQueue(WallClock::time_point start) : start_(start) {}

void ManualMainQueue::post(std::function<void()> work) {
    postAfter(Duration::zero(), std::move(work));
}

TaskId ManualMainQueue::postAfter(Duration delay, std::function<void()> work) {
    const TaskId id = nextId_++;
    const Duration due = later(now_, delay);
    tasks_.emplace(Key{due, id}, std::move(work));
    dueById_.emplace(id, due);
    return id;
}

void ManualMainQueue::cancel(TaskId id) {
    const auto found = dueById_.find(id);
    if (found == dueById_.end()) return;
    tasks_.erase(Key{found->second, id});
    dueById_.erase(found);
}

std::size_t ManualMainQueue::runUntilIdle() {
    std::size_t ran = 0;
    while (!tasks_.empty() && tasks_.begin()->first.due <= now_) {
        auto node = tasks_.extract(tasks_.begin());
        dueById_.erase(node.key().id);
        node.mapped()();
        ++ran;
    }
    return ran;
}

void ManualMainQueue::advance(Duration by) {
    const Duration target = later(now_, by);
    runUntilIdle();
    while (!tasks_.empty() && tasks_.begin()->first.due <= target) {
        now_ = tasks_.begin()->first.due;
        runUntilIdle();
    }
    now_ = target;
    runUntilIdle();
}

ManualMainQueue::WallClock::time_point ManualMainQueue::wallNow() const {
    return start_ + std::chrono::duration_cast<WallClock::duration>(now_);
}

}  // namespace kestrune
