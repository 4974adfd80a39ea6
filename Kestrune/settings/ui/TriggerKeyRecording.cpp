#include "Kestrune/settings/ui/TriggerKeyRecording.hpp"

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/settings/ui/TriggerKeyChoices.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

void TriggerKeyRecording::start() {
    isRecording_ = true;
    message_.clear();
}

void TriggerKeyRecording::stop() {
    isRecording_ = false;
}

std::optional<TriggerKey> TriggerKeyRecording::handleKey(std::int64_t keyCode) {
    if (!isRecording_) return std::nullopt;
    if (keyCode == kEscapeKeyCode) {
        message_.clear();
        stop();
        return std::nullopt;
    }
    const auto bound = TriggerKey::binding(keyCode);
    if (!bound) {
        message_ = localizedFormat("%s is needed for typing — pick a spare key.",
                                   {KeyCatalog::name(keyCode)});
        return std::nullopt;
    }
    stop();
    message_ = localizedFormat("Bound to %s.", {KeyCatalog::name(keyCode)});
    return bound;
}

std::string TriggerKeyRecording::display(const TriggerKey& current) const {
    return isRecording_ ? localized("Press a key…") : SettingsControls::title(current);
}

std::string TriggerKeyRecording::hint() const {
    if (!message_.empty()) return message_;
    if (isRecording_) return localized("Press the key you want to hold. Esc cancels.");
    return localized("The bound key is suppressed system-wide, so pick one you never use.");
}

std::string TriggerKeyRecording::buttonTitle() const {
    return isRecording_ ? localized("Cancel") : localized("Record a Key");
}

}  // namespace kestrune
