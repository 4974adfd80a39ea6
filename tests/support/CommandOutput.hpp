#pragma once

#include <cstdio>
#include <string>

namespace kestrune::testing {

// Everything a shell command writes to its standard output, bytes as they are (pictures too);
// empty when the command cannot be started.
inline std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

}  // namespace kestrune::testing
