#pragma once

#include <optional>
#include <string_view>

namespace kestrune {

// Which recognizer the user wants (the setting "speechEngine"): `automatic` ("auto") is the
// built-in one for English and the online one for the other languages.
enum class SpeechEnginePreference { automatic, builtIn, online };

std::string_view rawValue(SpeechEnginePreference preference);
// None for anything but "auto", "builtIn" and "online".
std::optional<SpeechEnginePreference> speechEnginePreferenceFromRawValue(std::string_view raw);

}  // namespace kestrune
