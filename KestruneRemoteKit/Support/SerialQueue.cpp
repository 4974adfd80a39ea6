#include "KestruneRemoteKit/Support/SerialQueue.hpp"

#include <pthread.h>
#include <sched.h>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace kestrune {

namespace asio = boost::asio;

namespace {

// The processors this thread may run on (containers and `taskset` narrow the machine's).
int usableProcessors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return CPU_COUNT(&set);
}

// How long a polling queue keeps its processor before offering it to other threads waiting for
// it. The thread that the queue waits on (the owner answering a command, a phone's process) is
// often woken on this very processor, and the scheduler need not preempt a busy thread for it: the
// phone-link server's queue then held up the owner for tens of microseconds per command, and up
// to its whole polling window. 5 us keeps that wait short; yielding on every empty poll instead
// cost the round trips more than it saved (`client_bench`: about 26k against 38k a second).
constexpr auto kYieldEvery = std::chrono::microseconds(5);

}  // namespace

struct SerialQueue::Impl {
    // Runs the queue, polling awake for `pollAfterWork` after each piece of work before sleeping
    // in the poller again.
    void runPolling(Duration pollAfterWork) {
        using Clock = std::chrono::steady_clock;
        auto lastWork = Clock::now();
        auto lastYield = lastWork;
        while (!io.stopped()) {
            if (io.poll_one() > 0) {
                lastWork = lastYield = Clock::now();
                continue;
            }
            const auto now = Clock::now();
            if (now - lastWork >= pollAfterWork) {
                io.run_one();
                lastWork = lastYield = Clock::now();
            } else if (now - lastYield >= kYieldEvery) {
                sched_yield();
                lastYield = now;
            }
        }
    }

    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> guard{io.get_executor()};
    std::mutex timersMutex;
    std::unordered_map<TaskId, std::shared_ptr<asio::steady_timer>> timers;
    TaskId nextId = 1;
    std::thread thread;
};

SerialQueue::SerialQueue(std::string label, Duration pollAfterWork)
    : label_(std::move(label)), impl_(std::make_shared<Impl>()) {
    if (usableProcessors() < 2) pollAfterWork = Duration::zero();
    // Linux limits thread names to 15 characters; the tail of the label is the useful part.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    // The thread shares the io_context, so it can outlive this object when destroyed from the
    // queue.
    impl_->thread = std::thread([impl = impl_, name, pollAfterWork] {
        pthread_setname_np(pthread_self(), name.c_str());
        if (pollAfterWork > Duration::zero()) {
            impl->runPolling(pollAfterWork);
        } else {
            impl->io.run();
        }
    });
}

SerialQueue::~SerialQueue() {
    impl_->guard.reset();
    impl_->io.stop();
    if (impl_->thread.get_id() == std::this_thread::get_id()) {
        // Joining oneself is impossible: the thread ends once the running work returns.
        impl_->thread.detach();
    } else if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

void SerialQueue::post(std::function<void()> work) {
    asio::post(impl_->io, std::move(work));
}

TaskId SerialQueue::postAfter(Duration delay, std::function<void()> work) {
    auto timer = std::make_shared<asio::steady_timer>(impl_->io, delay);
    TaskId id;
    {
        std::lock_guard lock(impl_->timersMutex);
        id = impl_->nextId++;
        impl_->timers.emplace(id, timer);
    }
    timer->async_wait([impl = impl_.get(), id, timer,
                       work = std::move(work)](const boost::system::error_code& error) {
        bool stillWanted;
        {
            std::lock_guard lock(impl->timersMutex);
            // A cancel that came after the timer fired but before this ran has erased the id.
            stillWanted = impl->timers.erase(id) == 1;
        }
        if (stillWanted && !error) work();
    });
    return id;
}

void SerialQueue::cancel(TaskId id) {
    std::shared_ptr<asio::steady_timer> timer;
    {
        std::lock_guard lock(impl_->timersMutex);
        const auto found = impl_->timers.find(id);
        if (found == impl_->timers.end()) return;
        timer = found->second;
        impl_->timers.erase(found);
    }
    // Cancelling must happen on the queue's thread: steady_timer is not thread-safe.
    asio::post(impl_->io, [timer] { timer->cancel(); });
}

bool SerialQueue::isCurrent() const {
    return impl_->io.get_executor().running_in_this_thread();
}

asio::io_context& SerialQueue::context() {
    return impl_->io;
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    post([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace kestrune
