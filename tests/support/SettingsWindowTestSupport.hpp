#pragma once

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <string>
#include <utility>

#include "tests/support/QtEventPump.hpp"

namespace kestrune::testing {

// Runs the Qt event loop until `done` holds or the limit passes.
template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    return pumpEventsUntil(std::move(done), limit);
}

inline void pumpFor(std::chrono::milliseconds time) {
    pumpEventsFor(time);
}

// Without a window manager nobody hands the keyboard to a window; one would.
bool giveFocus(QWidget* window);

// Returns once the X server has handled every request Qt made so far, such as a keyboard grab or
// its release, so that keys sent from another connection afterwards meet the new state.
void syncWithXServer();

// Runs the event loop until `window` looks the same twice in a row: what its layouts and item
// views place after the events they post is in place. False when it still changes at `limit`.
bool waitUntilSettled(QWidget* window, std::chrono::milliseconds limit = std::chrono::seconds(10));

template <typename T>
T* find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace kestrune::testing
