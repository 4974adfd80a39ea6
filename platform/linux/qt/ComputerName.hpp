#pragma once

#include <optional>
#include <string>

namespace kestrune {

// The computer's name as the user set it: the pretty host name that systemd-hostnamed keeps,
// else the static host name (gethostname). Asks the system bus, at most kHostnameCallTimeout.
std::optional<std::string> computerName();

}  // namespace kestrune
