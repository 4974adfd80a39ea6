#pragma once

#include <optional>
#include <string>

#include "KestruneRemoteKit/Protocol/RemoteError.hpp"

namespace kestrune {

// How the computer finished with a picture (or a command) from a phone, as the phone is told in
// the `ack`: the error, or on success where the picture was saved, if it was. One type from the
// delivery through the server to the session, so no field is lost on the way.
struct ImageOutcome {
    std::optional<RemoteError> error;
    std::optional<std::string> saved;    // the file's name
    std::optional<std::string> savedIn;  // its folder as shown to the phone ("~/Pictures")
    bool operator==(const ImageOutcome&) const = default;
};

}  // namespace kestrune
