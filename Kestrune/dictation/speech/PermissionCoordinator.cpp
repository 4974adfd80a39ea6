#include "Kestrune/dictation/speech/PermissionCoordinator.hpp"

#include <utility>

namespace kestrune {

void PermissionCoordinator::requestSpeechAndMicrophonePermissions(
    const Dependencies& dependencies, std::function<void(bool)> completion) {
    const bool speech = dependencies.speechRecognitionAvailable();
    dependencies.microphoneAvailable([&main = dependencies.mainQueue, speech,
                                      completion = std::move(completion)](bool microphone) {
        main.post([completion, granted = speech && microphone] { completion(granted); });
    });
}

}  // namespace kestrune
