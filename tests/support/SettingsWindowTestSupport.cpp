#include "tests/support/SettingsWindowTestSupport.hpp"

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xlib.h>

namespace kestrune::testing {

bool giveFocus(QWidget* window) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XSetInputFocus(display, static_cast<Window>(window->winId()), RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    return pumpUntil([window] { return QApplication::activeWindow() == window; },
                     std::chrono::seconds(10));
}

}  // namespace kestrune::testing
