#pragma once

// Internal to the protocol library: the JSON reading that the wire codec builds on.

#include <cstdint>
#include <optional>
#include <string_view>

#include <boost/json/value.hpp>

namespace kestrune::detail {

// Parses one JSON document (surrounding whitespace allowed, nothing else) into storage from `sp`.
// Numbers that are written as fractions or exponents but denote an exact 64-bit integer (1.0,
// 2e3) are stored as integers; any other non-integer or out-of-range number stays a double. The
// decision is made on the number's text, so rounding to double can never make an out-of-range
// or fractional number look like an integer. None for text that is not JSON.
std::optional<boost::json::value> parseJson(std::string_view text, boost::json::storage_ptr sp);

// The exact integer a JSON number literal denotes, when it is one within the 64-bit range.
std::optional<std::int64_t> exactInt64(std::string_view jsonNumber);

}  // namespace kestrune::detail
