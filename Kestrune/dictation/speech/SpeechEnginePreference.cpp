#include "Kestrune/dictation/speech/SpeechEnginePreference.hpp"

namespace kestrune {

std::string_view rawValue(SpeechEnginePreference preference) {
    switch (preference) {
        case SpeechEnginePreference::automatic:
            return "auto";
        case SpeechEnginePreference::builtIn:
            return "builtIn";
        case SpeechEnginePreference::online:
            return "online";
    }
    return "auto";
}

std::optional<SpeechEnginePreference> speechEnginePreferenceFromRawValue(std::string_view raw) {
    for (const auto preference :
         {SpeechEnginePreference::automatic, SpeechEnginePreference::builtIn,
          SpeechEnginePreference::online}) {
        if (rawValue(preference) == raw) return preference;
    }
    return std::nullopt;
}

}  // namespace kestrune
