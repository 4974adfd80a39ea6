#pragma once

#include <optional>
#include <string>

namespace kestrune::phone {

// A password is never taken from the command line, where other users and the shell history see
// it. On a terminal it is asked for without echo; otherwise it is all of standard input, less one
// final line break. None when nothing could be read or the input is implausibly long.
std::optional<std::string> readSecret(int fd);

// Longest input read: far beyond any password the computer accepts (it refuses longer ones).
inline constexpr std::size_t kMaxSecretInputBytes = 64 * 1024;

}  // namespace kestrune::phone
