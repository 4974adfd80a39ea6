#pragma once

#include <sys/types.h>

#include <cstdint>

namespace murrelo::bench {

// Context switches (voluntary and not) of every thread of process `pid` so far, from
// /proc/PID/task/*/status: each one is a thread put to sleep or taken off a core, the price of a
// hand-off between threads or processes.
std::uint64_t contextSwitches(pid_t pid);

// The largest resident set process `pid` has had, in bytes (VmHWM).
std::uint64_t peakResidentBytes(pid_t pid);

}  // namespace murrelo::bench
