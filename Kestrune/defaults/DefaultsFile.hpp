#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/defaults/DefaultsValue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// A settings file holds a few hundred bytes; anything far larger was not written by us, and
// refusing it keeps a hostile file from costing memory at start.
inline constexpr std::size_t kMaxDefaultsFileBytes = 1024 * 1024;

struct DecodedDefaults {
    DefaultsDictionary values;
    // Keys whose value is of a kind the database does not keep (a number with a fraction, null,
    // an object, a list holding something other than text); they read as absent.
    std::vector<std::string> skippedKeys;
};

// Reads a domain file: one JSON object whose members are booleans, integers, strings or lists of
// strings. Fails only when the file as a whole is not such an object.
Result<DecodedDefaults, std::string> decodeDefaultsFile(std::string_view bytes);

// The JSON text of a domain, keys in order, one member per line so the file diffs well.
std::string encodeDefaultsFile(const DefaultsDictionary& values);

}  // namespace kestrune
