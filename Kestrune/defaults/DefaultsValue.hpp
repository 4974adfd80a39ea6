#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace kestrune {

using StringList = std::vector<std::string>;

// The kinds of value the settings database keeps; anything else in a file is not ours.
using DefaultsValue = std::variant<bool, std::int64_t, std::string, StringList>;

// One domain's contents, by key.
using DefaultsDictionary = std::map<std::string, DefaultsValue, std::less<>>;

}  // namespace kestrune
