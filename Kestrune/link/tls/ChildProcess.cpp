#include "Kestrune/link/tls/ChildProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <utility>

extern char** environ;

namespace kestrune {

namespace {

// A tool that prints more than this is not one we understand; the rest is read and dropped so the
// child never blocks on a full pipe.
constexpr std::size_t kMaxCapturedBytesPerStream = 1 << 20;

std::error_code lastError() {
    return {errno, std::system_category()};
}

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

std::error_code makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return lastError();
    pipe.readEnd.reset(fds[0]);
    pipe.writeEnd.reset(fds[1]);
    return {};
}

class SpawnActions {
  public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// Reads what is available; closes the descriptor at end of stream.
void drain(FileDescriptor& fd, std::string& into) {
    std::array<char, 4096> buffer;
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got > 0) {
        const auto room =
            kMaxCapturedBytesPerStream - std::min(into.size(), kMaxCapturedBytesPerStream);
        into.append(buffer.data(), std::min(static_cast<std::size_t>(got), room));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        fd.reset();
    }
}

ChildProcessOutcome outcomeFromWaitStatus(int waitStatus) {
    ChildProcessOutcome outcome;
    if (WIFSIGNALED(waitStatus)) {
        outcome.endedBySignal = true;
        outcome.status = WTERMSIG(waitStatus);
    } else {
        outcome.status = WEXITSTATUS(waitStatus);
    }
    return outcome;
}

int waitForExit(pid_t pid) {
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    return waitStatus;
}

}  // namespace

Result<ChildProcessOutcome, std::error_code> runChildProcess(
    const std::string& executable, const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeout) {
    Pipe out, err;
    if (auto failed = makePipe(out)) return failed;
    if (auto failed = makePipe(err)) return failed;

    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), out.writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(actions.get(), err.writeEnd.get(), STDERR_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawnError =
        ::posix_spawn(&pid, executable.c_str(), actions.get(), nullptr, argv.data(), environ);
    out.writeEnd.reset();
    err.writeEnd.reset();
    if (spawnError != 0) return std::error_code(spawnError, std::system_category());

    // A pidfd lets one poll() wait for output and for the exit at once, with a deadline.
    // (glibc's own pidfd_open declaration lacks C linkage in C++, hence the raw system call.)
    FileDescriptor exitSignal(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    bool exited = false;
    int waitStatus = 0;
    std::string standardOutput, standardError;
    const auto deadline = std::chrono::steady_clock::now() + timeout;

    while (out.readEnd.valid() || err.readEnd.valid() || (exitSignal.valid() && !exited)) {
        // Once the child is reaped its pid may belong to another process: it is never signalled
        // again, and only what it left in the pipes is read (something it started in the
        // background may hold them open far longer).
        int waitMilliseconds = 0;
        if (!exited) {
            const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (remaining.count() <= 0) {
                ::kill(pid, SIGKILL);
                waitForExit(pid);
                return std::make_error_code(std::errc::timed_out);
            }
            waitMilliseconds = static_cast<int>(remaining.count());
        }
        std::array<pollfd, 3> watched{{{out.readEnd.get(), POLLIN, 0},
                                       {err.readEnd.get(), POLLIN, 0},
                                       {exited ? -1 : exitSignal.get(), POLLIN, 0}}};
        const int ready = ::poll(watched.data(), watched.size(), waitMilliseconds);
        if (ready < 0 && errno != EINTR) {
            const auto failure = lastError();
            if (!exited) {
                ::kill(pid, SIGKILL);
                waitForExit(pid);
            }
            return failure;
        }
        if (ready == 0 && exited) break;
        if (ready <= 0) continue;
        if (watched[0].revents != 0) drain(out.readEnd, standardOutput);
        if (watched[1].revents != 0) drain(err.readEnd, standardError);
        if (watched[2].revents != 0) {
            waitStatus = waitForExit(pid);
            exited = true;
        }
    }
    if (!exited) waitStatus = waitForExit(pid);

    auto outcome = outcomeFromWaitStatus(waitStatus);
    outcome.standardOutput = std::move(standardOutput);
    outcome.standardError = std::move(standardError);
    return outcome;
}

}  // namespace kestrune
