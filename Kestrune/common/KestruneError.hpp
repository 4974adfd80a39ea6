#pragma once

#include <string>
#include <utility>

namespace kestrune {

// The application's failures that reach the user.
class KestruneError {
  public:
    enum class Kind {
        recordingFailed,
        llmFailed,
        pasteFailed,
        permissionsDenied,
        recognizerUnavailable
    };

    static KestruneError recordingFailed(std::string message);
    static KestruneError llmFailed(std::string message);
    static KestruneError pasteFailed(std::string message);
    static KestruneError permissionsDenied();
    // `hint` says which setting would give a recognizer; it follows the standard sentence.
    static KestruneError recognizerUnavailable(std::string hint = {});

    Kind kind() const { return kind_; }
    // The message carried by the first three kinds, the hint of `recognizerUnavailable`; empty
    // for `permissionsDenied`.
    const std::string& message() const { return message_; }
    // What the user is shown.
    std::string localizedDescription() const;

    bool operator==(const KestruneError&) const = default;

  private:
    KestruneError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

}  // namespace kestrune
