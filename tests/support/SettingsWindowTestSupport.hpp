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

template <typename T>
T* find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace kestrune::testing
