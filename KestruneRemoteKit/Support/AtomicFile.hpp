#pragma once

#include <sys/types.h>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// The owner-only permission of every file the link writes (keys, secrets' hashes, outbox items).
inline constexpr mode_t kOwnerOnlyFileMode = 0600;

// Writes `bytes` to `path` so that a reader (or a crash) sees either the old file or the whole new
// one: a temporary file in the same folder, created with `mode`, flushed to disk, then renamed over
// `path`. Missing parent folders are created (mode 700). A failure is an error text.
Result<void, std::string> writeFileAtomically(const std::filesystem::path& path,
                                              std::string_view bytes,
                                              mode_t mode = kOwnerOnlyFileMode);

// Reads a whole file; none when it does not exist or cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace kestrune
