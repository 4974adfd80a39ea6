#pragma once

#include <functional>
#include <string_view>

namespace kestrune {

enum class LogLevel { debug, info, warning, error };

// One line to the process log (stderr unless a sink is installed). Never pass secrets, codes or
// passwords: callers log what happened, not what was typed.
void log(LogLevel level, std::string_view category, std::string_view message);

// Replaces where log lines go (tests capture them); an empty function restores stderr.
using LogSink = std::function<void(LogLevel, std::string_view category, std::string_view message)>;
void setLogSink(LogSink sink);

}  // namespace kestrune
