#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/common/KestruneError.hpp"
#include "Kestrune/dictation/speech/SpeechEngine.hpp"
#include "Kestrune/dictation/speech/SpeechEnginePreference.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Picks the recognizer for a language from the user's preference and what is available now, or
// says which setting would give one. Main thread.
class SpeechEngineSelector {
  public:
    struct Dependencies {
        // The offline recognizer; none when it is not built in.
        std::shared_ptr<SpeechEngine> builtIn;
        // The online recognizer; none when it is not built in.
        std::shared_ptr<SpeechEngine> online;
        std::function<SpeechEnginePreference()> preference;
    };

    explicit SpeechEngineSelector(Dependencies dependencies);

    // A recognizer that is available for the language, or `recognizerUnavailable` with a hint.
    Result<std::shared_ptr<SpeechEngine>, KestruneError> recognizerFor(AppLanguage language) const;

    // Whether some recognizer serves the language now.
    bool serves(AppLanguage language) const { return recognizerFor(language).ok(); }

  private:
    Dependencies dependencies_;
};

}  // namespace kestrune
