#include "Kestrune/phone/images/ImageSaveLocation.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include "Kestrune/phone/images/ImageFileSaver.hpp"

namespace kestrune::ImageSaveLocation {

Mode mode(const std::optional<std::string>& stored) {
    return stored && *stored == "frontFinderWindow" ? Mode::frontFileManagerWindow : Mode::fixed;
}

std::string_view rawValue(Mode mode) {
    return mode == Mode::frontFileManagerWindow ? "frontFinderWindow" : "fixed";
}

std::filesystem::path storedFolder(const std::optional<std::string>& stored) {
    if (stored && !stored->empty()) return std::filesystem::path(*stored);
    return ImageFileSaver::downloads();
}

bool isUsableFolder(const std::filesystem::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

Resolution resolve(const Preferences& preferences, const Ask& ask, const IsUsable& isUsable) {
    const auto settingsFolder = storedFolder(preferences.folder);
    const auto fallback = isUsable(settingsFolder) ? settingsFolder : ImageFileSaver::downloads();
    if (mode(preferences.destination) == Mode::fixed) return {fallback, false};

    const auto answer = ask();
    const bool denied = answer.kind == FileManagerFolder::Answer::Kind::denied;
    if (answer.kind == FileManagerFolder::Answer::Kind::folder && isUsable(answer.folder)) {
        return {answer.folder, denied};
    }
    return {fallback, denied};
}

}  // namespace kestrune::ImageSaveLocation
