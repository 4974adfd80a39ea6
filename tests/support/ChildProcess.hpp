#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrune::testing {

// A program started by a test, its standard output and error going to files the test reads while
// it runs. Environment entries are added to (or, with an empty value, removed from) the test's
// own. Stopped with SIGTERM, then SIGKILL, when the object goes.
class ChildProcess {
  public:
    using Environment = std::map<std::string, std::optional<std::string>>;

    ChildProcess(std::vector<std::string> argv, const Environment& environment,
                 const std::filesystem::path& outputFolder, const std::string& name)
        : out_(outputFolder / (name + ".out")), err_(outputFolder / (name + ".err")) {
        // Emptied before the program starts, so a reader never sees an earlier run's output.
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const auto& [key, value] : environment) {
                if (value) {
                    ::setenv(key.c_str(), value->c_str(), 1);
                } else {
                    ::unsetenv(key.c_str());
                }
            }
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            const int devNull = ::open("/dev/null", O_RDONLY);
            ::dup2(devNull, STDIN_FILENO);
            std::vector<char*> args;
            for (auto& arg : argv) args.push_back(arg.data());
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(out);
        ::close(err);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    std::string output() const { return read(out_); }
    std::string errors() const { return read(err_); }

    // The exit status once the program has ended by itself within `limit`; none otherwise.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        if (status_) return status_;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Polls the standard output until `text` appears in it.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (output().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    void stop() {
        if (pid_ <= 0 || status_) return;
        ::kill(pid_, SIGTERM);
        if (!wait(std::chrono::seconds(10))) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(10));
        }
    }

  private:
    static std::string read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path out_;
    std::filesystem::path err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The stand-in tray host and notification server (tests/support/desktop_standin.py), ready once
// constructed; each line it prints starts with the monotonic clock's seconds (steady_clock's).
class DesktopStandIn {
  public:
    DesktopStandIn(const std::filesystem::path& outputFolder, std::vector<std::string> roles)
        : process_(arguments(std::move(roles)), {}, outputFolder, "desktop-standin") {
        ready_ = process_.waitForOutput("ready", std::chrono::seconds(30));
    }
    bool ready() const { return ready_; }
    std::string output() const { return process_.output(); }
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
        return process_.waitForOutput(text, limit);
    }
    // The lines whose text starts with `word`, each with its time.
    std::vector<std::pair<double, std::string>> lines(const std::string& word) const {
        std::vector<std::pair<double, std::string>> found;
        std::istringstream in(output());
        std::string line;
        while (std::getline(in, line)) {
            const auto space = line.find(' ');
            if (space == std::string::npos) continue;
            const std::string rest = line.substr(space + 1);
            if (rest.rfind(word, 0) == 0)
                found.emplace_back(std::stod(line.substr(0, space)), rest);
        }
        return found;
    }

  private:
    static std::vector<std::string> arguments(std::vector<std::string> roles) {
        std::vector<std::string> argv = {
            "/usr/bin/python3",
            std::string(MURRELO_SOURCE_DIR) + "/tests/support/desktop_standin.py"};
        argv.insert(argv.end(), roles.begin(), roles.end());
        return argv;
    }

    ChildProcess process_;
    bool ready_ = false;
};

}  // namespace kestrune::testing
