#pragma once

#include <QApplication>

namespace kestrune::testing {

// The process's one QApplication, made on first use: window tests need a real one with widgets.
// It is never destroyed, so that nothing static outlives it in a test program.
inline QApplication& widgetsApplication() {
    static int argc = 1;
    static char name[] = "murrelo-window-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace kestrune::testing
