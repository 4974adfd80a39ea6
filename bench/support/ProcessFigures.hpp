#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>

namespace murrelo::bench {

// Context switches (voluntary and not) of every thread of process `pid` so far, from
// /proc/PID/task/*/status: each one is a thread put to sleep or taken off a core, the price of a
// hand-off between threads or processes.
std::uint64_t contextSwitches(pid_t pid);

// The same of this process and of `peer` together: both sides of a round trip.
std::uint64_t contextSwitchesWith(pid_t peer);

// The same count for each thread of process `pid`, keyed by "TID name" (name from comm).
std::map<std::string, std::uint64_t> contextSwitchesPerThread(pid_t pid);

// The processor time all threads of process `pid` have used so far, in nanoseconds
// (/proc/PID/task/*/schedstat): what a round trip costs the server, polling included.
std::uint64_t processorNanoseconds(pid_t pid);

// The resident set of process `pid` now, in bytes (VmRSS).
std::uint64_t residentBytes(pid_t pid);

// The largest resident set process `pid` has had, in bytes (VmHWM).
std::uint64_t peakResidentBytes(pid_t pid);

}  // namespace murrelo::bench
