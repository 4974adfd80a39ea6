#include "tests/support/SettingsWindowTestSupport.hpp"

#include <QtGui/qguiapplication_platform.h>
#include <QImage>
#include <QPixmap>

#include <utility>

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

void syncWithXServer() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    // Qt's requests share the connection with its Xlib display: the round trip sends them first.
    if (x11 != nullptr && x11->display() != nullptr) XSync(x11->display(), False);
}

bool waitUntilSettled(QWidget* window, std::chrono::milliseconds limit) {
    QImage last;
    return pumpUntil(
        [&] {
            QImage now = window->grab().toImage();
            const bool same = now == last;
            last = std::move(now);
            return same;
        },
        limit);
}

}  // namespace kestrune::testing
