#pragma once

#include <cstddef>

namespace kestrune {

// Largest encoded message the computer reads; a longer one ends the connection. Phones check what
// they send against it, so that a person hears "too long" rather than "connection lost".
inline constexpr std::size_t kMaxRemoteMessageBytes = 262'144;

}  // namespace kestrune
