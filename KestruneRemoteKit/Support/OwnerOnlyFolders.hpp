#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kestrune {

// Creates `dir` and its missing parents owner-only (mode 700), as the link's atomic file writing
// does for the folders it needs; folders that exist keep their mode. Returns an error text on
// failure. Implemented with the atomic file writing (AtomicFile.cpp).
std::optional<std::string> createOwnerOnlyFolders(const std::filesystem::path& dir);

}  // namespace kestrune
