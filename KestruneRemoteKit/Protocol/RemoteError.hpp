#pragma once

#include <optional>
#include <string_view>

namespace kestrune {

// Why the computer refused or failed a phone's request; travels as the "error" of an `ack`.
enum class RemoteError {
    unauthenticated,
    tokenInvalid,
    tokenExpired,
    pairingRejected,
    unknownDevice,
    awaitingApproval,
    badMessage,
    unsupported,
    textTooLong,
    textEmpty,
    busy,
    cancelled,
    imageTooLarge,
    imageInvalid,
    imageSaveFailed,
    accessibilityMissing,
    notPasswordField,
    internal,
};

inline constexpr RemoteError kAllRemoteErrors[] = {
    RemoteError::unauthenticated,
    RemoteError::tokenInvalid,
    RemoteError::tokenExpired,
    RemoteError::pairingRejected,
    RemoteError::unknownDevice,
    RemoteError::awaitingApproval,
    RemoteError::badMessage,
    RemoteError::unsupported,
    RemoteError::textTooLong,
    RemoteError::textEmpty,
    RemoteError::busy,
    RemoteError::cancelled,
    RemoteError::imageTooLarge,
    RemoteError::imageInvalid,
    RemoteError::imageSaveFailed,
    RemoteError::accessibilityMissing,
    RemoteError::notPasswordField,
    RemoteError::internal,
};

// The wire string, e.g. "token_invalid".
std::string_view rawValue(RemoteError error);

// Exact, case-sensitive match of a wire string; none for anything else.
std::optional<RemoteError> remoteErrorFromRaw(std::string_view raw);

// Whether the computer ends the connection after sending this code.
bool closesConnection(RemoteError error);

}  // namespace kestrune
