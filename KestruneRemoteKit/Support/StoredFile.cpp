#include "KestruneRemoteKit/Support/StoredFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLogCategory = "stored-file";
constexpr std::string_view kUnreadableMarker = ".unreadable-";
// Two files kept aside in the same second need a second name; more than a handful means
// something else keeps making them, and the store is better left alone.
constexpr int kNamingAttempts = 16;

std::string systemReason(int error) {
    return std::strerror(error);
}

}  // namespace

Result<std::optional<std::string>, std::string> readStoredFile(const fs::path& file,
                                                               std::size_t maxBytes) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) return std::optional<std::string>{};
        return file.string() + ": " + systemReason(errno);
    }
    if (S_ISDIR(info.st_mode)) return file.string() + " is a folder, not a file";
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        return file.string() + " is too large (" + std::to_string(info.st_size) + " bytes)";
    }
    // Opened only to learn why: readWholeFile keeps the reason to itself.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return file.string() + ": " + systemReason(errno);
    ::close(fd);
    auto bytes = readWholeFile(file);
    if (!bytes) return file.string() + ": the file could not be read";
    if (bytes->size() > maxBytes) return file.string() + " is too large";
    return std::optional<std::string>(std::move(*bytes));
}

fs::path unreadableFileName(const fs::path& file, std::chrono::system_clock::time_point now,
                            int attempt) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = file.filename().string() + std::string(kUnreadableMarker) + stamp;
    // Appended in two steps: `"-" + std::string&&` is what g++ 12 at -O2 takes for an
    // overlapping copy (GCC bug 105329, -Wrestrict) although nothing overlaps.
    if (attempt > 1) {
        name += '-';
        name += std::to_string(attempt);
    }
    return file.parent_path() / name;
}

bool isKeptAside(std::string_view fileName) {
    return fileName.find(kUnreadableMarker) != std::string_view::npos;
}

Result<fs::path, std::string> keepAside(const fs::path& file,
                                        std::chrono::system_clock::time_point now) {
    for (int attempt = 1; attempt <= kNamingAttempts; ++attempt) {
        const auto target = unreadableFileName(file, now, attempt);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            struct stat info {};
            // Whatever the file's mode was, what it holds is the user's: owner-only from now.
            if (::lstat(target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                ::chmod(target.c_str(), kOwnerOnlyFileMode);
            }
            return target;
        }
        if (errno != EEXIST) return systemReason(errno);
    }
    return std::string("too many files kept aside already");
}

Result<fs::path, std::string> keepCopyAside(const fs::path& file, std::string_view bytes,
                                            std::chrono::system_clock::time_point now) {
    std::error_code ec;
    for (int attempt = 1; attempt <= kNamingAttempts; ++attempt) {
        const auto target = unreadableFileName(file, now, attempt);
        if (fs::exists(target, ec) || ec) continue;
        if (auto written = writeFileAtomically(target, bytes); !written) return written.error();
        return target;
    }
    return std::string("too many files kept aside already");
}

bool setAsideUnreadable(const fs::path& file, std::string_view reason, std::string_view what,
                        std::string_view reset, const StoreProblemReport& report) {
    const std::string unreadable = std::string(what) + " " + file.string() +
                                   " could not be read (" + std::string(reason) + ")";
    auto kept = keepAside(file);
    StoreProblem problem{file, {}};
    if (kept) {
        problem.message = unreadable + "; it was kept as " + kept.value().string() + " and " +
                          std::string(reset) + ".";
    } else {
        problem.message = unreadable + " and could not be moved aside (" + kept.error() +
                          "); nothing will be saved over it in this run.";
    }
    log(LogLevel::error, kLogCategory, problem.message);
    if (report) report(problem);
    return static_cast<bool>(kept);
}

}  // namespace kestrune
