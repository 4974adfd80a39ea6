#include "bench/support/ProcessFigures.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace murrelo::bench {

namespace {

// The number after `key` in a /proc status file, or 0.
std::uint64_t statusField(const std::filesystem::path& status, const std::string& key) {
    std::ifstream file(status);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(key, 0) == 0) return std::stoull(line.substr(key.size()));
    }
    return 0;
}

std::uint64_t switchesOf(const std::filesystem::path& task) {
    return statusField(task / "status", "voluntary_ctxt_switches:") +
           statusField(task / "status", "nonvoluntary_ctxt_switches:");
}

std::filesystem::path tasksOf(pid_t pid) {
    return std::filesystem::path("/proc") / std::to_string(pid) / "task";
}

}  // namespace

std::uint64_t contextSwitches(pid_t pid) {
    std::uint64_t total = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasksOf(pid), error)) {
        total += switchesOf(task.path());
    }
    return total;
}

std::uint64_t contextSwitchesWith(pid_t peer) {
    return contextSwitches(::getpid()) + contextSwitches(peer);
}

std::map<std::string, std::uint64_t> contextSwitchesPerThread(pid_t pid) {
    std::map<std::string, std::uint64_t> counts;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasksOf(pid), error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        counts[task.path().filename().string() + " " + name] = switchesOf(task.path());
    }
    return counts;
}

std::uint64_t processorNanoseconds(pid_t pid) {
    std::uint64_t total = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasksOf(pid), error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        std::uint64_t onProcessor = 0;
        if (schedstat >> onProcessor) total += onProcessor;
    }
    return total;
}

std::uint64_t residentBytes(pid_t pid) {
    const auto status = std::filesystem::path("/proc") / std::to_string(pid) / "status";
    return statusField(status, "VmRSS:") * 1024;
}

std::uint64_t peakResidentBytes(pid_t pid) {
    const auto status = std::filesystem::path("/proc") / std::to_string(pid) / "status";
    return statusField(status, "VmHWM:") * 1024;
}

}  // namespace murrelo::bench
