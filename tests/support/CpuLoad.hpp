#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace kestrune::testing {

// Processes that do nothing but compete for the CPU, as a build or a video call does on a user's
// desktop. They start with the object and are killed and reaped when it goes.
class CpuLoad {
  public:
    explicit CpuLoad(int processes) {
        for (int i = 0; i < processes; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                // Nothing but arithmetic in the child: the parent may have other threads, so
                // only async-signal-safe calls are allowed after fork().
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~CpuLoad() {
        for (pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    }
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;

    int running() const { return static_cast<int>(pids_.size()); }

  private:
    std::vector<pid_t> pids_;
};

}  // namespace kestrune::testing
