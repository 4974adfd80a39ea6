#include "Kestrune/dictation/speech/PermissionCoordinator.hpp"

#include <utility>

namespace kestrune {

void PermissionCoordinator::requestSpeechAndMicrophonePermissions(
    const Dependencies& dependencies, std::function<void(bool)> completion) {
    const bool speech = dependencies.speechRecognitionAvailable();
    const bool microphone = dependencies.microphoneAvailable();
    dependencies.mainQueue.post([completion = std::move(completion),
                                 granted = speech && microphone] { completion(granted); });
}

}  // namespace kestrune
