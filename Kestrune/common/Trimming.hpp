#pragma once

#include <string_view>

namespace kestrune {

// Text with white space and line breaks removed from both ends.
std::string_view trimmedWhitespaceAndNewlines(std::string_view text);

}  // namespace kestrune
