#include "bench/support/ProcessFigures.hpp"

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

}  // namespace

std::uint64_t contextSwitches(pid_t pid) {
    std::uint64_t total = 0;
    std::error_code error;
    const auto tasks = std::filesystem::path("/proc") / std::to_string(pid) / "task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        total += statusField(task.path() / "status", "voluntary_ctxt_switches:");
        total += statusField(task.path() / "status", "nonvoluntary_ctxt_switches:");
    }
    return total;
}

std::uint64_t peakResidentBytes(pid_t pid) {
    const auto status = std::filesystem::path("/proc") / std::to_string(pid) / "status";
    return statusField(status, "VmHWM:") * 1024;
}

}  // namespace murrelo::bench
