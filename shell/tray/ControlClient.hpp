#pragma once

#include <string>
#include <vector>

namespace kestrune {

// `murrelo ctl WORDS…`: one call to the running instance over the session bus. Prints the answer
// (the link, "on"/"off") on standard output and any failure as a sentence on standard error.
// Returns the exit status: 0 done, 1 failed or no instance running, 2 a usage error.
int runControlCommand(const std::vector<std::string>& words);

// A second start asks the running instance to open its settings; false when it did not answer.
bool askRunningInstanceToOpenSettings();

}  // namespace kestrune
