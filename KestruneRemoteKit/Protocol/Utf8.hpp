#pragma once

// UTF-8 checks shared by the link's libraries: text from the wire, from tools and from tables.

#include <string>
#include <string_view>

namespace kestrune::detail {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// The text with every ill-formed sequence replaced by U+FFFD, as a string made from bytes would be.
std::string repairedUtf8(std::string_view text);

}  // namespace kestrune::detail
