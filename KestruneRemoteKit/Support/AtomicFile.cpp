#include "KestruneRemoteKit/Support/AtomicFile.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace {

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

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

}  // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               std::string_view bytes, mode_t mode) {
    const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return "cannot create " + dir.string() + ": " + ec.message();

    thread_local std::mt19937_64 random{std::random_device{}()};
    // The process id keeps forked children, which inherit the generator's state, apart.
    const auto temp = dir / ("." + path.filename().string() + ".tmp-" + std::to_string(::getpid()) +
                             "-" + std::to_string(random()));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return errnoText("cannot create temporary file");
    // The umask may have narrowed the mode at creation; state it exactly.
    ::fchmod(fd, mode);
    const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const std::string failure = ok ? std::string() : errnoText("cannot write temporary file");
    ::close(fd);
    if (!ok) {
        ::unlink(temp.c_str());
        return failure;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string renameFailure = errnoText("cannot replace file");
        ::unlink(temp.c_str());
        return renameFailure;
    }
    syncDirectory(dir);
    return std::nullopt;
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(out).str();
}

}  // namespace kestrune
