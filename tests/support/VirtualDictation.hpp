#pragma once

#include <memory>
#include <string>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/PasteboardFakes.hpp"
#include "tests/support/SpeechFakes.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::testing {

// What a coordinator is made with, in virtual time: the real settings store (English, over a
// folder of its own), speech service and refiner, with stand-ins only for the key, the audio, the
// recognizer, the HTTP transport and the clipboard.
struct VirtualDictationParts {
    VirtualDictationParts(ManualMainQueue& queue, const std::string& name)
        : folder("dictation-" + name),
          settings(std::make_shared<UserDefaults>(folder.path(), "zz.test." + name),
                   std::make_shared<InMemoryLLMKeyStore>(), std::make_shared<InMemoryLLMKeyStore>(),
                   queue),
          speech({queue, [log = captureLog] { return std::make_unique<FakeAudioCapture>(log); },
                  [engine = engine](
                      AppLanguage) -> Result<std::shared_ptr<SpeechEngine>, KestruneError> {
                      return std::shared_ptr<SpeechEngine>(engine);
                  }}),
          refiner(std::make_shared<ScriptedHttpClient>(), queue),
          pasteboard(queue) {
        settings.setSelectedLanguage(AppLanguage::english);
    }

    TemporaryDirectory folder;
    SettingsStore settings;
    FakeTriggerKeySource keys;
    std::shared_ptr<FakeCaptureLog> captureLog = std::make_shared<FakeCaptureLog>();
    std::shared_ptr<FakeSpeechEngine> engine = std::make_shared<FakeSpeechEngine>();
    SpeechRecognizerService speech;
    LLMRefiner refiner;
    RecordingPasteboard pasteboard;
};

}  // namespace kestrune::testing
