#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/phone/images/FileManagerFolder.hpp"

namespace kestrune::ImageSaveLocation {

// Settings keys (stored by the settings store).
inline constexpr std::string_view kDestinationKey = "remoteImageSaveDestination";
inline constexpr std::string_view kFolderKey = "remoteImageSaveFolder";

enum class Mode { frontFileManagerWindow, fixed };

// The stored words "frontFinderWindow" / "fixed"; anything else or nothing means fixed.
Mode mode(const std::optional<std::string>& stored);
std::string_view rawValue(Mode mode);

// The folder chosen in the settings, else Downloads.
std::filesystem::path storedFolder(const std::optional<std::string>& stored);

// Exists, is a directory and is writable by us.
bool isUsableFolder(const std::filesystem::path& folder);

struct Preferences {
    std::optional<std::string> destination;  // kDestinationKey
    std::optional<std::string> folder;       // kFolderKey
};

struct Resolution {
    std::filesystem::path folder;
    bool finderDenied = false;  // the file manager refused to say
    bool operator==(const Resolution&) const = default;
};

using Ask = std::function<FileManagerFolder::Answer()>;
using IsUsable = std::function<bool(const std::filesystem::path&)>;

// Where a picture to be saved goes. Asks the file manager only in frontFileManagerWindow mode; any
// answer other than a usable folder leads to the settings folder (or Downloads).
Resolution resolve(const Preferences& preferences, const Ask& ask,
                   const IsUsable& isUsable = isUsableFolder);

}  // namespace kestrune::ImageSaveLocation
