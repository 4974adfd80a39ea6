#include "KestruneRemoteKit/Protocol/RemoteError.hpp"

namespace kestrune {

std::string_view rawValue(RemoteError error) {
    switch (error) {
        case RemoteError::unauthenticated:
            return "unauthenticated";
        case RemoteError::tokenInvalid:
            return "token_invalid";
        case RemoteError::tokenExpired:
            return "token_expired";
        case RemoteError::pairingRejected:
            return "pairing_rejected";
        case RemoteError::unknownDevice:
            return "unknown_device";
        case RemoteError::awaitingApproval:
            return "awaiting_approval";
        case RemoteError::badMessage:
            return "bad_message";
        case RemoteError::unsupported:
            return "unsupported";
        case RemoteError::textTooLong:
            return "text_too_long";
        case RemoteError::textEmpty:
            return "text_empty";
        case RemoteError::busy:
            return "busy";
        case RemoteError::cancelled:
            return "cancelled";
        case RemoteError::imageTooLarge:
            return "image_too_large";
        case RemoteError::imageInvalid:
            return "image_invalid";
        case RemoteError::imageSaveFailed:
            return "image_save_failed";
        case RemoteError::accessibilityMissing:
            return "accessibility_missing";
        case RemoteError::notPasswordField:
            return "not_password_field";
        case RemoteError::internal:
            return "internal";
    }
    return "internal";
}

std::optional<RemoteError> remoteErrorFromRaw(std::string_view raw) {
    for (RemoteError error : kAllRemoteErrors) {
        if (rawValue(error) == raw) return error;
    }
    return std::nullopt;
}

bool closesConnection(RemoteError error) {
    switch (error) {
        case RemoteError::unauthenticated:
        case RemoteError::tokenInvalid:
        case RemoteError::tokenExpired:
        case RemoteError::pairingRejected:
        case RemoteError::unknownDevice:
        case RemoteError::internal:
            return true;
        default:
            return false;
    }
}

}  // namespace kestrune
