#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Something about a stored file the user must hear of: it could not be read and was kept aside
// (or could not even be kept, so its store is left alone for this run), or it could not be
// written. The message is one sentence for a notification and names every path involved.
struct StoreProblem {
    std::filesystem::path file;
    std::string message;
    bool operator==(const StoreProblem&) const = default;
};

// How a store reports a problem; it may be called on any thread.
using StoreProblemReport = std::function<void(const StoreProblem&)>;

// A store's file as read at start: none when it does not exist. A folder in its place, a file
// larger than `maxBytes` or one the system refuses to read is an error naming the path.
Result<std::optional<std::string>, std::string> readStoredFile(const std::filesystem::path& file,
                                                               std::size_t maxBytes);

// Where `file` is kept when it cannot be read: `<name>.unreadable-YYYYMMDD-HHMMSS` beside it (local
// time), with "-2", "-3"… added when that name is taken.
std::filesystem::path unreadableFileName(const std::filesystem::path& file,
                                         std::chrono::system_clock::time_point now, int attempt);

// True for a file some earlier start kept aside, which a store's clean-up must leave alone.
bool isKeptAside(std::string_view fileName);

// Moves `file` aside under its unreadable name (owner-only when it is a file), never over another
// file. The path it now has, or the system's reason it could not be moved.
Result<std::filesystem::path, std::string> keepAside(
    const std::filesystem::path& file,
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// Keeps `bytes`, the contents of `file` that a store is about to rewrite without some of them,
// under the unreadable name (owner-only); `file` itself stays.
Result<std::filesystem::path, std::string> keepCopyAside(
    const std::filesystem::path& file, std::string_view bytes,
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// Keeps an unreadable `file` aside and reports it: `what` names the store for the user ("the
// settings file"), `reset` says what starts over ("the settings start from their defaults").
// True when the file is out of the way and the store may write; false when it could not be moved,
// and the store must not write for this run (the report says so).
bool setAsideUnreadable(const std::filesystem::path& file, std::string_view reason,
                        std::string_view what, std::string_view reset,
                        const StoreProblemReport& report);

}  // namespace kestrune
