#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::phone {

// Checks of what a person asks to type, made before anything is sent, so that the answer says what
// is wrong instead of "the connection was lost". Sizes are measured as the computer measures them:
// the encoded message, escapes included, against its message limit. Each gives the refusal text, or
// none when the input may be sent.
std::optional<std::string> checkText(const std::string& text);
std::optional<std::string> checkSecret(const std::string& secret, bool enter);

// A key named in any letter case ("return", "Tab"); the message carries the wire's spelling.
std::optional<RemoteKey> keyFromName(std::string_view name);

}  // namespace kestrune::phone
