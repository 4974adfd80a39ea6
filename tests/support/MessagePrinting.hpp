#pragma once

#include <ostream>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {

// Lets test failures show a message as its wire text instead of raw bytes.
inline void PrintTo(const RemoteMessage& message, std::ostream* out) {
    const auto text = message.encoded();
    *out << (text.ok() ? text.value() : "<" + std::string(message.typeName()) + ", not encodable>");
}

}  // namespace kestrune
