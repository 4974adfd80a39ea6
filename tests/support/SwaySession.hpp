#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::testing {

// A headless sway with XWayland, started for a test. sway refuses to run as root, so under root
// (CI) it runs as an unprivileged user made once for the tests, with a runtime folder of its own
// (mode 700); its clients run as that user too. The test process itself connects as root, by the
// socket's full path: WAYLAND_DISPLAY is set to it in this process while the session lives.
class SwaySession {
  public:
    // Null when sway cannot run here; `why` says why.
    static std::unique_ptr<SwaySession> start(const std::string& extraConfig, std::string& why);
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // A command line that runs `argv` as the session's user, in its environment plus `extra`
    // ("NAME=value" entries). The program keeps the process id of the command.
    std::vector<std::string> asUser(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& extra = {}) const;
    // A copy of `file` in the session's folder, which its user can read and run: the build tree
    // may lie where that user cannot reach (a checkout under /root).
    std::string shared(const std::filesystem::path& file) const;
    // Runs `swaymsg` with one command and gives its output.
    std::string message(const std::string& command) const;
    // The X display of its XWayland (":N").
    const std::string& xDisplay() const { return xDisplay_; }
    const std::filesystem::path& folder() const { return runtime_.path(); }

  private:
    SwaySession() = default;

    TemporaryDirectory runtime_{"murrelo-sway"};
    std::string waylandSocket_;
    std::string xDisplay_;
    std::string previousWaylandDisplay_;
    std::unique_ptr<ChildProcess> sway_;
};

}  // namespace kestrune::testing
