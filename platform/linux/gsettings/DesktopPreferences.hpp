#pragma once

#include <optional>

namespace kestrune::linux_desktop {

// Whether the desktop asks applications to keep animations to a minimum ("enable-animations"
// turned off in org.gnome.desktop.interface); none where that schema is not installed, so that
// the caller can ask the toolkit instead. Reads the stored value afresh each time.
std::optional<bool> reducesMotion();

}  // namespace kestrune::linux_desktop
