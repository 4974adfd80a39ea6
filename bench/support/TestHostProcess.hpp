#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace murrelo::bench {

// The phone-link server as a phone meets it: murrelo-test-host in a process of its own (with
// `--quiet`, so it writes nothing per command, like the application), its state in a fresh
// folder. Its pairing link and port are read from its first lines; `stop` asks it to quit.
class TestHostProcess {
  public:
    // Starts the host built beside the benchmarks (MURRELO_TEST_HOST names another) and waits
    // for it to listen; none when it cannot be started.
    static std::optional<TestHostProcess> start();
    TestHostProcess(TestHostProcess&& other) noexcept;
    TestHostProcess& operator=(TestHostProcess&&) = delete;
    ~TestHostProcess();

    pid_t pid() const { return pid_; }
    std::uint16_t port() const { return port_; }
    const std::string& fingerprint() const { return fingerprint_; }
    // The one-time pairing code of the link the host printed at start.
    const std::string& pairingToken() const { return token_; }

    // Ends the host and waits for it; true when it quit cleanly.
    bool stop();

  private:
    TestHostProcess() = default;
    std::optional<std::string> readLine();

    pid_t pid_ = -1;
    int input_ = -1;   // the host's standard input
    int output_ = -1;  // the host's standard output
    std::string pending_;
    std::uint16_t port_ = 0;
    std::string fingerprint_;
    std::string token_;
    std::filesystem::path state_;
};

}  // namespace murrelo::bench
