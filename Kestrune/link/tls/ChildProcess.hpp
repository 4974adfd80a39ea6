#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// How a finished child process ended and what it wrote.
struct ChildProcessOutcome {
    // The exit status, or the signal number when a signal ended it.
    int status = 0;
    bool endedBySignal = false;
    std::string standardOutput;
    std::string standardError;

    bool succeeded() const { return !endedBySignal && status == 0; }
};

// Runs `executable` directly (no shell) with `arguments`, standard input from /dev/null, and
// collects both output streams until it ends. A launch failure is the system's error; a child
// still running after `timeout` is killed and reported as std::errc::timed_out.
Result<ChildProcessOutcome, std::error_code> runChildProcess(
    const std::string& executable, const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeout);

}  // namespace kestrune
