#pragma once

#include <memory>
#include <string>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace boost::asio {
class io_context;
}

namespace kestrune {

// One thread running a single-threaded io_context: the serial queues of the server, of direct
// typing and of the file-manager question. Work posted from any thread runs in order on that
// thread. Destruction stops the thread after the work already running; pending work is dropped. The
// last owner may release the queue from work running on it: the thread then ends by itself
// afterwards.
class SerialQueue final : public MainQueue {
  public:
    // `pollAfterWork`, when not zero, keeps the thread polling (sockets, timers, posted work) for
    // that long after each piece of work before it sleeps: for a queue whose work comes in bursts
    // of small exchanges, where a sleep and a wake-up cost more than the work. Machines with a
    // single processor never poll: the polling would take the time of the thread it waits for.
    explicit SerialQueue(std::string label, Duration pollAfterWork = Duration::zero());
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(std::function<void()> work) override;
    TaskId postAfter(Duration delay, std::function<void()> work) override;
    void cancel(TaskId id) override;
    bool isCurrent() const override;

    const std::string& label() const { return label_; }

    // The io_context that runs this queue, for sockets and timers that must live on it.
    boost::asio::io_context& context();

    // Runs `work` on the queue and waits for it; called from the queue itself, runs it at once
    // (waiting for itself would never end).
    void sync(const std::function<void()>& work);

  private:
    struct Impl;
    std::string label_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune
