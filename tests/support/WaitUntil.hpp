#pragma once

#include <chrono>
#include <thread>

namespace kestrune::testing {

// How long a test waits for something another thread, process or server does before it gives up:
// many times what it takes in a sanitizer build on a machine shared by several builds, so that
// only a fault runs it out. Waiting is never the measure: a condition that holds ends the wait.
inline constexpr std::chrono::milliseconds kWaitLimit = std::chrono::seconds(30);

// Between two checks the waiting thread sleeps this long, leaving the processor to what it waits
// for; short beside anything a test waits for.
inline constexpr std::chrono::milliseconds kWaitRecheck{10};

// Checks `done` until it holds or `limit` passes; false when the limit passed first (the test then
// asserts what it waited for, and fails with its own message).
template <typename Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kWaitRecheck);
    }
    return true;
}

}  // namespace kestrune::testing
