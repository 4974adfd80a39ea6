#include "Kestrune/phone/images/ImageFileSaver.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace kestrune::ImageFileSaver {

namespace {

std::filesystem::path homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::filesystem::path(home)
                                            : std::filesystem::path("/");
}

// Reads DOWNLOAD from user-dirs.dirs: lines like XDG_DOWNLOAD_DIR="$HOME/Downloads".
std::optional<std::filesystem::path> xdgDownloadDir() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const auto config = configHome != nullptr && *configHome != '\0'
                            ? std::filesystem::path(configHome)
                            : homeFolder() / ".config";
    std::ifstream in(config / "user-dirs.dirs");
    std::string line;
    static constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR=\"";
    while (std::getline(in, line)) {
        if (!line.starts_with(kKey) || line.size() < kKey.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(kKey.size(), line.size() - kKey.size() - 1);
        if (value.starts_with("$HOME")) value = homeFolder().string() + value.substr(5);
        if (value.empty() || value.front() != '/') return std::nullopt;
        // A DOWNLOAD entry equal to the home folder means "not set up".
        if (std::filesystem::path(value) == homeFolder()) return std::nullopt;
        return std::filesystem::path(value);
    }
    return std::nullopt;
}

}  // namespace

std::filesystem::path downloads() {
    return xdgDownloadDir().value_or(homeFolder() / "Downloads");
}

std::string_view extension(std::optional<ImageFormat> format) {
    return format ? rawValue(*format) : std::string_view("img");
}

std::string baseName(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", &local);
    return std::string("Kestrune ") + stamp;
}

Result<std::string, SaveError> save(std::string_view bytes, std::optional<ImageFormat> format,
                                    const std::filesystem::path& folder,
                                    std::chrono::system_clock::time_point now) {
    const std::string base = baseName(now);
    // Appended, not `"." + std::string&&`, which g++ 12 at -O3 takes for an overlapping copy
    // (GCC bug 105329, -Wrestrict).
    std::string suffix = ".";
    suffix += extension(format);
    std::error_code ec;
    // A fresh account has no Downloads folder until something makes it; a file manager saving
    // there would make it too.
    if (!std::filesystem::exists(folder, ec) && !ec) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return SaveError{"cannot create " + folder.string() + ": " + ec.message()};
    }
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string name =
            attempt == 1 ? base + suffix : base + " " + std::to_string(attempt) + suffix;
        const auto path = folder / name;
        // O_EXCL makes "does it exist" and "create it" one step: a file appearing meanwhile is
        // never overwritten.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return SaveError{std::strerror(errno)};
        }
        std::string_view rest = bytes;
        while (!rest.empty()) {
            const ssize_t written = ::write(fd, rest.data(), rest.size());
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) {
                const SaveError failure{std::strerror(errno)};
                ::close(fd);
                ::unlink(path.c_str());
                return failure;
            }
            rest.remove_prefix(static_cast<size_t>(written));
        }
        if (::close(fd) != 0) {
            const SaveError failure{std::strerror(errno)};
            ::unlink(path.c_str());
            return failure;
        }
        return name;
    }
    return SaveError{std::strerror(EEXIST)};
}

std::string displayPath(const std::filesystem::path& folder, const std::string& home) {
    const std::string path = folder.string();
    if (path == home) return "~";
    if (!home.empty() && path.starts_with(home + "/")) {
        // Appended for the same reason as the suffix above.
        std::string shown = "~";
        shown += std::string_view(path).substr(home.size());
        return shown;
    }
    return path;
}

}  // namespace kestrune::ImageFileSaver
