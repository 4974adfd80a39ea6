#include "Kestrune/defaults/XdgDirectories.hpp"

#include <pwd.h>
#include <unistd.h>
#include <cstdlib>

namespace kestrune {

namespace {

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

// XDG base directories must be absolute: a relative value is invalid and is ignored.
std::filesystem::path fromEnvironment(const char* variable, const char* fallbackUnderHome) {
    if (const char* value = std::getenv(variable); value && value[0] == '/') return value;
    return homeDirectory() / fallbackUnderHome;
}

}  // namespace

std::filesystem::path xdgConfigHome() {
    return fromEnvironment("XDG_CONFIG_HOME", ".config");
}

std::filesystem::path xdgDataHome() {
    return fromEnvironment("XDG_DATA_HOME", ".local/share");
}

}  // namespace kestrune
