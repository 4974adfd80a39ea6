#include "KestruneRemoteKit/Support/Log.hpp"

#include <cstdio>
#include <mutex>
#include <string>

namespace kestrune {

namespace {
std::mutex sinkMutex;
LogSink currentSink;

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "debug";
        case LogLevel::info:
            return "info";
        case LogLevel::warning:
            return "warning";
        case LogLevel::error:
            return "error";
    }
    return "?";
}
}  // namespace

void log(LogLevel level, std::string_view category, std::string_view message) {
    std::lock_guard lock(sinkMutex);
    if (currentSink) {
        currentSink(level, category, message);
        return;
    }
    std::fprintf(stderr, "[%s] %.*s: %.*s\n", levelName(level), static_cast<int>(category.size()),
                 category.data(), static_cast<int>(message.size()), message.data());
}

void setLogSink(LogSink sink) {
    std::lock_guard lock(sinkMutex);
    currentSink = std::move(sink);
}

}  // namespace kestrune
