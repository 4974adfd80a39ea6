#pragma once

namespace kestrune::atspi {

// Whether the keyboard focus is in a password field: the focused accessible object of the
// application that owns the focused X window has the role "password text". Blocks for up to
// `focusDeadline` while no focused object can be found (an application that is still building its
// accessibility tree), each call to another process limited to `callTimeout`. Call it from one
// thread only (the accessibility library is not thread-safe), never the main thread.
bool isPasswordFieldFocused();

}  // namespace kestrune::atspi
