#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune::ImageFileSaver {

// Collisions within one second get " 2" … " 99" before the extension; past that the folder is
// evidently flooded and the save fails rather than overwrite anything.
inline constexpr int kMaxNameAttempts = 99;

// The user's Downloads folder: the XDG user directory DOWNLOAD, else ~/Downloads.
std::filesystem::path downloads();

// "jpeg", "png", "heic"; "img" when the type is unknown.
std::string_view extension(std::optional<ImageFormat> format);

// "Kestrune 2026-03-01 09.30.05" in local time.
std::string baseName(std::chrono::system_clock::time_point now);

struct SaveError {
    std::string reason;
    bool operator==(const SaveError&) const = default;
};

// Writes `bytes` into `folder` (made first when missing) under a fresh time-stamped name, never
// replacing a file; a failed write leaves nothing behind. Returns the file name (without the
// folder); the error is the system's reason.
Result<std::string, SaveError> save(std::string_view bytes, std::optional<ImageFormat> format,
                                    const std::filesystem::path& folder,
                                    std::chrono::system_clock::time_point now);

// The folder as shown to the phone: the home folder becomes "~".
std::string displayPath(const std::filesystem::path& folder, const std::string& home);

}  // namespace kestrune::ImageFileSaver
