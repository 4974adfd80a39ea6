#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <utility>

namespace kestrune::testing {

// A completion that fills a future, so a test can wait for an asynchronous outcome.
template <typename R>
class Await {
  public:
    Await() : promise_(std::make_shared<std::promise<R>>()), future_(promise_->get_future()) {}

    auto completion() {
        return [promise = promise_](R result) { promise->set_value(std::move(result)); };
    }

    bool ready(std::chrono::milliseconds within = std::chrono::milliseconds(0)) {
        return future_.wait_for(within) == std::future_status::ready;
    }

    // The outcome; fails the test (instead of hanging) when nothing comes within ten seconds.
    R get() {
        if (future_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "no outcome within ten seconds";
            std::abort();
        }
        return future_.get();
    }

  private:
    std::shared_ptr<std::promise<R>> promise_;
    std::future<R> future_;
};

}  // namespace kestrune::testing
