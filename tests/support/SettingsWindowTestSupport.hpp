#pragma once

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <string>
#include <thread>

namespace kestrune::testing {

inline QApplication& settingsApplication() {
    static int argc = 1;
    static char name[] = "settings-window-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the Qt event loop until `done` holds or the limit passes.
template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds time) {
    pumpUntil([] { return false; }, time);
}

// Without a window manager nobody hands the keyboard to a window; one would.
bool giveFocus(QWidget* window);

template <typename T>
T* find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

}  // namespace kestrune::testing
