#pragma once

#include <functional>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// The two questions asked before the first recording. On this desktop nothing is granted by the
// user: speech recognition is "granted" when a recognizer serves the selected language, the
// microphone when an audio server answers with at least one input.
struct PermissionCoordinator {
    struct Dependencies {
        MainQueue& mainQueue;
        // Whether a recognizer serves the selected language now.
        std::function<bool()> speechRecognitionAvailable;
        // Asks whether an audio server answers with at least one input. The question may wait
        // for a hung audio server, so it is asked away from the main thread: `answer` runs once,
        // on any thread.
        std::function<void(std::function<void(bool available)> answer)> microphoneAvailable;
    };

    // Asks both, speech recognition first, always both; the completion runs later on the main
    // queue with true only when both are granted.
    static void requestSpeechAndMicrophonePermissions(const Dependencies& dependencies,
                                                      std::function<void(bool)> completion);
};

}  // namespace kestrune
