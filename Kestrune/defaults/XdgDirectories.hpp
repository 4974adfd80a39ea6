#pragma once

#include <filesystem>

namespace kestrune {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config: where settings domains live.
std::filesystem::path xdgConfigHome();

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share: the application-support
// folder of this platform.
std::filesystem::path xdgDataHome();

}  // namespace kestrune
