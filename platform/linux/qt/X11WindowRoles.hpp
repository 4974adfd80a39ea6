#pragma once

#include <QtGui/qwindowdefs.h>

namespace kestrune {

// What Qt does not say about the X11 session of the application's display. Both answer "no" or
// do nothing on another platform (no X11 display behind Qt). GUI thread only.

// Whether a compositing manager owns the default screen's _NET_WM_CM_Sn selection: only then are
// the translucent parts of a window blended with what lies below it.
bool compositingManagerRunning();

// Tells window managers, before `window` is mapped, that it is a notification (a utility window
// for those that do not know that type), kept above others, on every workspace and out of task
// bars and pagers. Qt
// writes only the types of its own flags and keeps other _NET_WM_STATE entries when it adds its
// own.
void describeAsNotification(WId window);

}  // namespace kestrune
