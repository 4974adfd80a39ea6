#include "bench/support/TestHostProcess.hpp"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

extern char** environ;

namespace murrelo::bench {

namespace {

// The value of `name` in a pairing link's query (`kestrune://pair?h=…&p=…&f=…&t=…`).
std::string linkField(const std::string& link, const std::string& name) {
    const auto query = link.find('?');
    if (query == std::string::npos) return {};
    std::istringstream pairs(link.substr(query + 1));
    std::string pair;
    while (std::getline(pairs, pair, '&')) {
        if (pair.rfind(name + "=", 0) == 0) return pair.substr(name.size() + 1);
    }
    return {};
}

}  // namespace

std::optional<TestHostProcess> TestHostProcess::start() {
    const char* configured = ::getenv("MURRELO_TEST_HOST");
    const std::string program = configured ? configured : MURRELO_TEST_HOST_PATH;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "murrelo-bench-host-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return std::nullopt;

    int toHost[2];
    int fromHost[2];
    if (::pipe2(toHost, O_CLOEXEC) != 0) return std::nullopt;
    if (::pipe2(fromHost, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, toHost[0], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, fromHost[1], STDOUT_FILENO);
    std::vector<std::string> arguments{program, "--state", pattern, "--quiet"};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    TestHostProcess host;
    host.state_ = pattern;
    const int spawned =
        ::posix_spawn(&host.pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(toHost[0]);
    ::close(fromHost[1]);
    host.input_ = toHost[1];
    host.output_ = fromHost[0];
    if (spawned != 0) {
        host.pid_ = -1;
        return std::nullopt;
    }
    // "listening PORT FINGERPRINT", then "link kestrune://pair?…".
    while (host.token_.empty()) {
        const auto line = host.readLine();
        if (!line) return std::nullopt;
        if (line->rfind("listening ", 0) == 0) {
            std::istringstream words(line->substr(10));
            int port = 0;
            words >> port >> host.fingerprint_;
            host.port_ = static_cast<std::uint16_t>(port);
        } else if (line->rfind("link ", 0) == 0) {
            host.token_ = linkField(*line, "t");
        }
    }
    return host;
}

TestHostProcess::TestHostProcess(TestHostProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      pending_(std::move(other.pending_)),
      port_(other.port_),
      fingerprint_(std::move(other.fingerprint_)),
      token_(std::move(other.token_)),
      state_(std::exchange(other.state_, {})) {}

TestHostProcess::~TestHostProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
    std::error_code ignored;
    if (!state_.empty()) std::filesystem::remove_all(state_, ignored);
}

std::optional<std::string> TestHostProcess::readLine() {
    while (true) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        char buffer[4096];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count <= 0) return std::nullopt;
        pending_.append(buffer, static_cast<std::size_t>(count));
    }
}

bool TestHostProcess::stop() {
    if (pid_ <= 0) return false;
    static const char quit[] = "quit\n";
    const bool asked = ::write(input_, quit, std::strlen(quit)) > 0;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return asked && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace murrelo::bench
