// Prints figures for the `murrelo` program, started in a network namespace of its own with
// stand-ins for the tray host and the notification server on the session bus:
//   - start (fork) to the tray icon registered with the tray host, over several starts;
//   - resident memory after a quiet period;
//   - wake-ups while idle, per thread (context switches counted in /proc), with Phone Connection
//     off and then on.
// `--short` shortens the quiet periods (CI runs it that way only to keep it working).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/ProcessFigures.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace {

using namespace std::chrono_literals;
using kestrune::testing::ChildProcess;
using kestrune::testing::DesktopStandIn;
using kestrune::testing::TemporaryDirectory;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kMurrelo = MURRELO_EXECUTABLE;

std::string fileText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The descendant that runs murrelo (unshare and sh exec into it, so it is usually the child).
pid_t murreloPid(pid_t started) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const std::string comm = fileText("/proc/" + std::to_string(started) + "/comm");
        if (comm.rfind("murrelo", 0) == 0) return started;
        std::this_thread::sleep_for(10ms);
    }
    return started;
}

struct Instance {
    Instance(const fs::path& folder, const ChildProcess::Environment& environment)
        : process({"unshare", "--net", "sh", "-c",
                   "ip link set lo up && ip link add eth7 type veth peer name eth8 && "
                   "ip addr add 10.77.0.2/24 dev eth7 && ip link set eth7 up && "
                   "ip link set eth8 up && exec \"$0\"",
                   kMurrelo},
                  environment, folder, "instance") {}
    ChildProcess process;
};

int ctl(const ChildProcess::Environment& environment, const fs::path& folder,
        std::vector<std::string> words) {
    words.insert(words.begin(), {kMurrelo, "ctl"});
    ChildProcess call(words, environment, folder, "ctl");
    return call.wait(120s).value_or(-1);
}

void printWakeUps(const std::string& label, pid_t pid, std::chrono::seconds period) {
    const auto before = murrelo::bench::contextSwitchesPerThread(pid);
    std::this_thread::sleep_for(period);
    const auto after = murrelo::bench::contextSwitchesPerThread(pid);
    double busiest = 0;
    std::string busiestName;
    long total = 0;
    for (const auto& [thread, count] : after) {
        const auto found = before.find(thread);
        const long delta = static_cast<long>(count - (found == before.end() ? 0 : found->second));
        total += delta;
        const double rate = static_cast<double>(delta) / static_cast<double>(period.count());
        if (rate > busiest) {
            busiest = rate;
            busiestName = thread;
        }
    }
    std::printf("idle wake-ups, %s, over %lld s: %ld in %zu threads; busiest thread %.2f/s (%s)\n",
                label.c_str(), static_cast<long long>(period.count()), total, after.size(), busiest,
                busiestName.c_str());
    for (const auto& [thread, count] : after) {
        const auto found = before.find(thread);
        const long delta = static_cast<long>(count - (found == before.end() ? 0 : found->second));
        if (delta > 0) std::printf("    %-32s %ld\n", thread.c_str(), delta);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "--short";
    if (!std::getenv("DISPLAY") || !std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        std::cerr << "app_bench: run under scripts/with-test-services\n";
        return 1;
    }
    if (std::system("unshare --net true 2>/dev/null") != 0) {
        std::cerr << "app_bench: needs to make a network namespace (root)\n";
        return 1;
    }
    const int starts = quick ? 2 : 5;
    const auto settle = quick ? 2s : 10s;
    const auto idle = quick ? 3s : 30s;

    TemporaryDirectory folder("app-bench");
    fs::create_directories(folder / "config");
    fs::create_directories(folder / "data");
    const ChildProcess::Environment environment = {
        {"XDG_CONFIG_HOME", (folder / "config").string()},
        {"XDG_DATA_HOME", (folder / "data").string()},
        {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder / "no-system-bus").string()},
    };

    std::vector<double> startTimes;
    for (int run = 0; run < starts; ++run) {
        DesktopStandIn desktop(folder.path(), {"watcher", "notifications"});
        if (!desktop.ready()) {
            std::cerr << "app_bench: the stand-in tray host did not start\n";
            return 1;
        }
        const double started =
            std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
        Instance instance(folder.path(), environment);
        if (!desktop.waitForOutput("item ", 60s)) {
            std::cerr << "app_bench: no tray icon within 60 s\n" << instance.process.errors();
            return 1;
        }
        startTimes.push_back(desktop.lines("item").front().first - started);
        std::printf("  start %d: %.3f s\n", run + 1, startTimes.back());
        const bool last = run + 1 == starts;
        if (!last) {
            const int quit = ctl(environment, folder.path(), {"quit"});
            const auto status = instance.process.wait(30s);
            if (quit != 0 || !status) {
                std::cerr << "app_bench: the instance did not quit\n" << instance.process.errors();
                return 1;
            }
            continue;
        }

        const pid_t pid = murreloPid(instance.process.pid());
        std::this_thread::sleep_for(settle);
        std::printf(
            "start to tray icon registered: median %.3f s, best %.3f s over %d starts "
            "(goal <= 0.5 s)\n",
            [&] {
                auto sorted = startTimes;
                std::sort(sorted.begin(), sorted.end());
                return sorted[sorted.size() / 2];
            }(),
            *std::min_element(startTimes.begin(), startTimes.end()), starts);
        std::printf("idle resident memory after %lld s: %.1f MiB (goal <= 80 MiB)\n",
                    static_cast<long long>(settle.count()),
                    static_cast<double>(murrelo::bench::residentBytes(pid)) / (1024.0 * 1024.0));
        printWakeUps("Phone Connection off", pid, idle);
        if (ctl(environment, folder.path(), {"phone", "on"}) != 0) {
            std::cerr << "app_bench: Phone Connection did not turn on\n";
            return 1;
        }
        // The first start makes the certificate; the figures are for the running server.
        for (int wait = 0; wait < 600; ++wait) {
            ChildProcess status({kMurrelo, "ctl", "phone", "status"}, environment, folder.path(),
                                "status");
            status.wait(30s);
            if (status.output() == "on\n" &&
                fs::exists(folder / "data" / "Murrelo" / "Remote" / "cert.der")) {
                break;
            }
            std::this_thread::sleep_for(100ms);
        }
        std::this_thread::sleep_for(2s);
        printWakeUps("Phone Connection on", pid, idle);
        std::printf("resident memory with Phone Connection on: %.1f MiB\n",
                    static_cast<double>(murrelo::bench::residentBytes(pid)) / (1024.0 * 1024.0));
        ctl(environment, folder.path(), {"quit"});
        instance.process.wait(30s);
    }
    double load[3] = {};
    if (getloadavg(load, 3) == 3) {
        std::printf("load average at the end: %.2f %.2f %.2f (machine shared with other work)\n",
                    load[0], load[1], load[2]);
    }
    return 0;
}
