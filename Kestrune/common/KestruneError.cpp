#include "Kestrune/common/KestruneError.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

KestruneError KestruneError::recordingFailed(std::string message) {
    return {Kind::recordingFailed, std::move(message)};
}

KestruneError KestruneError::llmFailed(std::string message) {
    return {Kind::llmFailed, std::move(message)};
}

KestruneError KestruneError::pasteFailed(std::string message) {
    return {Kind::pasteFailed, std::move(message)};
}

KestruneError KestruneError::permissionsDenied() {
    return {Kind::permissionsDenied, {}};
}

KestruneError KestruneError::recognizerUnavailable(std::string hint) {
    return {Kind::recognizerUnavailable, std::move(hint)};
}

std::string KestruneError::localizedDescription() const {
    switch (kind_) {
        case Kind::recordingFailed:
        case Kind::llmFailed:
        case Kind::pasteFailed:
            return message_;
        case Kind::permissionsDenied:
            return localized("Microphone / speech permissions are required.");
        case Kind::recognizerUnavailable: {
            auto text = localized("Speech recognizer is unavailable for the selected language.");
            return message_.empty() ? text : text + " " + message_;
        }
    }
    return message_;
}

}  // namespace kestrune
