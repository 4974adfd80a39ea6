#include "Kestrune/dictation/keys/RecordingReleasePollPolicy.hpp"

#include <limits>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"

namespace kestrune {

bool RecordingReleasePollPolicy::shouldContinuePolling(const RecordingGate& gate) {
    using Phase = RecordingGate::Phase;
    return gate.isPressed() &&
           (gate.phase() == Phase::preparing || gate.phase() == Phase::recording);
}

bool RecordingReleasePollPolicy::isTriggerKeyDown(const TriggerKey& key,
                                                  const KeyboardState& state) {
    if (key.kind() == TriggerKey::Kind::dedicatedKey) {
        if (key.keyCode() < 0 || key.keyCode() > std::numeric_limits<std::uint16_t>::max()) {
            return false;
        }
        return state.isKeyDown && state.isKeyDown(static_cast<std::uint16_t>(key.keyCode()));
    }
    return state.modifierFlags && KeyCatalog::isModifierDown(key.keyCode(), state.modifierFlags());
}

}  // namespace kestrune
