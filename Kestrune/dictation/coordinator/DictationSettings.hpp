#pragma once

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/dictation/refine/LLMConfiguration.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

#include <functional>
#include <string>

namespace kestrune {

// The user's settings as dictation sees them: read when a step needs them, so a change made in
// the settings window applies to the next recording. The settings store implements it; dictation
// sits below the settings and never sees the store itself. Main thread only.
class DictationSettings {
  public:
    virtual ~DictationSettings() = default;

    virtual TriggerKey triggerKey() const = 0;
    // Stores the key the user chose; the coordinator then watches it.
    virtual void setTriggerKey(TriggerKey key) = 0;
    // The language the recognizer and the refinement prompt get.
    virtual AppLanguage language() const = 0;
    virtual LLMConfiguration refinement() const = 0;
    // Runs `ready` once the API keys are known (at once when they are), or with the reason they
    // could not be read: until then `refinement()` would lack its key.
    virtual void whenKeysKnown(std::function<void(Result<void, std::string>)> ready) = 0;
};

}  // namespace kestrune
