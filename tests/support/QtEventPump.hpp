#pragma once

#include <QCoreApplication>

#include <chrono>
#include <thread>

#include "tests/support/WaitUntil.hpp"

namespace kestrune::testing {

// Runs the Qt event loop on the calling (GUI) thread until `done` holds or `limit` passes; false
// when the limit passed first. Short sleeps between rounds leave the window system time to answer.
template <typename Predicate>
bool pumpEventsUntil(Predicate done, std::chrono::milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Runs the Qt event loop for `time`.
inline void pumpEventsFor(std::chrono::milliseconds time) {
    pumpEventsUntil([] { return false; }, time);
}

}  // namespace kestrune::testing
