#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrune::wayland {

// The interfaces the Wayland compositor of WAYLAND_DISPLAY announces, after one round trip. None
// when no compositor answers there.
std::optional<std::vector<std::string>> compositorGlobals();

}  // namespace kestrune::wayland
