#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/settings/login/LoginItem.hpp"

namespace kestrune::xdg_autostart {

// The application's desktop entry name: the same file name in share/applications (installed) and
// in the user's autostart folder (Launch at Login), as the freedesktop.org specs expect.
inline constexpr std::string_view kDesktopFileName = "zz.holvanis.murrelo.desktop";
// The installed tray application, under the prefix's bin folder.
inline constexpr std::string_view kProgramName = "murrelo";
// Bigger files are not ours to read: ours is a few hundred bytes, and an autostart folder is
// writable by other programs.
inline constexpr std::size_t kLargestEntry = 64 * 1024;

struct Locations {
    // $XDG_CONFIG_HOME/autostart.
    std::filesystem::path autostartFolder;
    // The running program, symbolic links resolved.
    std::filesystem::path executable;
};

// Where this process would register itself: $XDG_CONFIG_HOME/autostart and /proc/self/exe.
Locations currentLocations();

// The prefix `executable` was installed into ("<prefix>/bin/<program>" with
// "<prefix>/share/applications/zz.holvanis.murrelo.desktop" beside it); none for a build tree.
std::optional<std::filesystem::path> installedPrefix(const std::filesystem::path& executable);

// The autostart entry that starts `program` at login.
std::string desktopEntry(const std::filesystem::path& program);

// `enabled` when `file` is an entry of ours (its Exec starts a program named "murrelo") that the
// user has not hidden; `notRegistered` otherwise (missing, unreadable, someone else's, hidden).
LoginItemStatus readStatus(const std::filesystem::path& file);

// Launch at Login through the XDG autostart folder: registering writes the entry atomically for
// "<prefix>/bin/murrelo" (replacing a hidden or foreign one), unregistering removes it. Only an
// installed program counts as the application; failures are the system's error text. Runs on the
// caller's thread; each operation touches one small file.
LoginItem makeLoginItem(const Locations& locations);

}  // namespace kestrune::xdg_autostart
