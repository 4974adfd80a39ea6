#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/OwnerOnlyFolders.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <random>

namespace kestrune {

namespace {

// Folders the link creates hold keys and secrets' hashes: owner-only, like the files.
constexpr mode_t kOwnerOnlyFolderMode = 0700;
// Name collisions need a second random draw at most; a few more cover a misbehaving generator.
constexpr int kNamingAttempts = 8;

std::string errnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Creates the missing folders of `dir` owner-only; folders that exist keep their mode.
std::optional<std::string> createFolders(const std::filesystem::path& dir) {
    std::error_code ec;
    if (dir.empty() || std::filesystem::is_directory(dir, ec)) return std::nullopt;
    if (dir.has_parent_path() && dir.parent_path() != dir) {
        if (auto failure = createFolders(dir.parent_path())) return failure;
    }
    if (::mkdir(dir.c_str(), kOwnerOnlyFolderMode) != 0 && errno != EEXIST) {
        return errnoText(("cannot create " + dir.string()).c_str());
    }
    if (!std::filesystem::is_directory(dir, ec))
        return "cannot create " + dir.string() + ": not a folder";
    return std::nullopt;
}

std::filesystem::path temporaryName(const std::filesystem::path& dir,
                                    const std::filesystem::path& path) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    // The process id keeps forked children, which inherit the generator's state, apart.
    // Appended to a named string: g++ 12 at -O3 takes `"." + std::string&&` for an overlapping
    // copy (GCC bug 105329, -Wrestrict) although nothing overlaps.
    std::string name = ".";
    name += path.filename().string() + ".tmp-" + std::to_string(::getpid()) + "-" +
            std::to_string(random());
    return dir / name;
}

// Writes, states the mode exactly (the umask may have narrowed it at creation) and flushes.
std::optional<std::string> fill(int fd, std::string_view bytes, mode_t mode) {
    if (::fchmod(fd, mode) != 0) return errnoText("cannot set the mode of the temporary file");
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) return errnoText("cannot write temporary file");
    return std::nullopt;
}

// The temporary file is made without a name (O_TMPFILE), so a crash while writing leaves nothing
// in the folder; it is named only once complete, for the rename. None when the file system
// cannot do that, so the caller falls back to a named temporary file.
std::optional<std::optional<std::string>> writeUnnamed(const std::filesystem::path& dir,
                                                       const std::filesystem::path& path,
                                                       std::string_view bytes, mode_t mode) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return std::nullopt;
        return errnoText("cannot create temporary file");
    }
    if (auto failure = fill(fd, bytes, mode)) {
        ::close(fd);
        return failure;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::filesystem::path temp;
    int linked = -1;
    for (int attempt = 0; attempt < kNamingAttempts && linked != 0; ++attempt) {
        temp = temporaryName(dir, path);
        linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno != EEXIST) break;
    }
    ::close(fd);
    // Naming needs /proc; without it the named way below still works.
    if (linked != 0) return std::nullopt;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string renameFailure = errnoText("cannot replace file");
        ::unlink(temp.c_str());
        return renameFailure;
    }
    return std::optional<std::string>{};
}

std::optional<std::string> writeNamed(const std::filesystem::path& dir,
                                      const std::filesystem::path& path, std::string_view bytes,
                                      mode_t mode) {
    const auto temp = temporaryName(dir, path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return errnoText("cannot create temporary file");
    const auto failure = fill(fd, bytes, mode);
    ::close(fd);
    if (failure) {
        ::unlink(temp.c_str());
        return failure;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string renameFailure = errnoText("cannot replace file");
        ::unlink(temp.c_str());
        return renameFailure;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> createOwnerOnlyFolders(const std::filesystem::path& dir) {
    return createFolders(dir);
}

Result<void, std::string> writeFileAtomically(const std::filesystem::path& path,
                                              std::string_view bytes, mode_t mode) {
    const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (auto failure = createFolders(dir)) return std::move(*failure);
    auto outcome = writeUnnamed(dir, path, bytes, mode);
    if (!outcome) outcome = writeNamed(dir, path, bytes, mode);
    if (*outcome) return std::move(**outcome);
    syncDirectory(dir);
    return {};
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string contents;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return contents;
}

}  // namespace kestrune
