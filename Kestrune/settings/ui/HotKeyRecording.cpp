#include "Kestrune/settings/ui/HotKeyRecording.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

void HotKeyRecording::start() {
    if (isRecording_) return;
    isRecording_ = true;
    message_.clear();
    if (dependencies_.onRecordingChange) dependencies_.onRecordingChange(true);
}

void HotKeyRecording::stop() {
    if (!isRecording_) return;
    isRecording_ = false;
    if (dependencies_.onRecordingChange) dependencies_.onRecordingChange(false);
}

void HotKeyRecording::handleKey(std::uint16_t keyCode, std::uint64_t modifiers) {
    if (!isRecording_) return;
    const auto recording = GlobalHotKey::validate(keyCode, modifiers);
    if (std::holds_alternative<GlobalHotKey::Cancelled>(recording)) {
        stop();
    } else if (const auto* refusal = std::get_if<GlobalHotKey::Refusal>(&recording)) {
        message_ = GlobalHotKey::message(*refusal);
    } else {
        const auto& hotKey = std::get<GlobalHotKey>(recording);
        // Stopped first, so the new shortcut is registered by resuming, not while suspended.
        stop();
        if (dependencies_.onChange) dependencies_.onChange(hotKey);
        message_ = localizedFormat("Set to %s.", {hotKey.displayName()});
    }
}

void HotKeyRecording::clear() {
    message_.clear();
    if (dependencies_.onChange) dependencies_.onChange(std::nullopt);
}

std::string HotKeyRecording::display(const std::optional<GlobalHotKey>& current) const {
    if (isRecording_) return localized("Press the shortcut…");
    return current ? current->displayName() : localized("Not set");
}

std::string HotKeyRecording::caption() const {
    if (!message_.empty()) return message_;
    return localized("Works from any app. Use at least one of Ctrl or Super.");
}

std::string HotKeyRecording::buttonTitle() const {
    return isRecording_ ? localized("Cancel") : localized("Record Shortcut");
}

}  // namespace kestrune
