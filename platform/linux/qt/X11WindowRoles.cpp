#include "platform/linux/qt/X11WindowRoles.hpp"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include <string>

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace kestrune {

namespace {

Display* qtDisplay() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

Atom atom(Display* display, const char* name) {
    return XInternAtom(display, name, False);
}

}  // namespace

bool compositingManagerRunning() {
    Display* display = qtDisplay();
    if (display == nullptr) return false;
    const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    return XGetSelectionOwner(display, atom(display, selection.c_str())) != None;
}

void describeAsNotification(WId window) {
    Display* display = qtDisplay();
    if (display == nullptr) return;
    const Atom types[] = {atom(display, "_NET_WM_WINDOW_TYPE_NOTIFICATION"),
                          atom(display, "_NET_WM_WINDOW_TYPE_UTILITY")};
    XChangeProperty(display, static_cast<Window>(window), atom(display, "_NET_WM_WINDOW_TYPE"),
                    XA_ATOM, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(types), 2);
    const Atom states[] = {
        atom(display, "_NET_WM_STATE_SKIP_TASKBAR"), atom(display, "_NET_WM_STATE_SKIP_PAGER"),
        atom(display, "_NET_WM_STATE_ABOVE"), atom(display, "_NET_WM_STATE_STICKY")};
    XChangeProperty(display, static_cast<Window>(window), atom(display, "_NET_WM_STATE"), XA_ATOM,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(states), 4);
    // On every workspace, like the pointer it follows.
    const long allDesktops = 0xFFFFFFFF;
    XChangeProperty(display, static_cast<Window>(window), atom(display, "_NET_WM_DESKTOP"),
                    XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&allDesktops), 1);
    XFlush(display);
}

}  // namespace kestrune
