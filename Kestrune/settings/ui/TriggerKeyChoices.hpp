#pragma once

#include <string>
#include <vector>

#include "Kestrune/dictation/keys/TriggerKey.hpp"

namespace kestrune::SettingsControls {

// A trigger key as the interface names it: a preset by its catalog name, any other key by its
// name followed by " (custom)" in the interface language.
std::string title(const TriggerKey& key);

// Whether a preset can be offered in this session. Fn's key code lies beyond the range of X key
// codes, so an X11 session can never watch it.
bool isOfferedPreset(const TriggerKey& key);

// The picker's options, in order: the current key when it is not among the offered presets (so
// what is stored stays visible and selected), then the offered presets in their stored order.
std::vector<TriggerKey> triggerKeyChoices(const TriggerKey& current);

// The note under the picker, saying why Fn is missing.
std::string triggerKeyCaption();

}  // namespace kestrune::SettingsControls
