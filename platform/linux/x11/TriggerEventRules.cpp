#include "platform/linux/x11/TriggerEventRules.hpp"

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"

namespace kestrune::x11 {

namespace {
constexpr std::int64_t fnKeyCode = 63;
constexpr int firstWheelButton = 4;
constexpr int lastWheelButton = 7;

bool isCataloguedModifier(std::int64_t virtualKeyCode) {
    const auto* descriptor = KeyCatalog::find(virtualKeyCode);
    return descriptor && descriptor->role == KeyCatalog::Role::modifier &&
           KeyCatalog::modifierFlagMasks().count(virtualKeyCode) != 0;
}
}  // namespace

TriggerEventRules::TriggerEventRules(TriggerKey key)
    : trigger_(key), triggerKeycode_(xKeycode(key.keyCode())) {}

bool TriggerEventRules::isWatchable() const {
    if (!triggerKeycode_) return false;
    return trigger_.kind() == TriggerKey::Kind::dedicatedKey ||
           isCataloguedModifier(trigger_.keyCode());
}

bool TriggerEventRules::watchesOtherInput() const {
    return trigger_.kind() == TriggerKey::Kind::modifier && trigger_.keyCode() != fnKeyCode;
}

std::optional<TriggerEventRules::Notice> TriggerEventRules::key(int xKeycode, bool down,
                                                                bool ours) {
    if (xKeycode < 0 || xKeycode >= static_cast<int>(pressed_.size())) return std::nullopt;
    pressed_[static_cast<std::size_t>(xKeycode)] = down;
    if (ours || !isWatchable()) return std::nullopt;
    if (xKeycode == *triggerKeycode_) return transition(down);
    if (!watchesOtherInput()) return std::nullopt;
    auto virtualCode = virtualKeyCodeForXKeycode(xKeycode);
    bool modifier = virtualCode && isCataloguedModifier(*virtualCode);
    // Another modifier changing counts both ways; any other key counts when it goes down.
    if (modifier || down) return otherInput();
    return std::nullopt;
}

std::optional<TriggerEventRules::Notice> TriggerEventRules::button(int xButton, bool ours) {
    if (ours || !watchesOtherInput()) return std::nullopt;
    if (xButton >= firstWheelButton && xButton <= lastWheelButton) return std::nullopt;
    return otherInput();
}

void TriggerEventRules::reset() {
    triggerIsDown_ = false;
    pressed_.reset();
}

std::uint64_t TriggerEventRules::modifierFlags() const {
    return x11::modifierFlags([this](int keycode) { return isKeyDown(keycode); });
}

bool TriggerEventRules::isKeyDown(int xKeycode) const {
    return xKeycode >= 0 && xKeycode < static_cast<int>(pressed_.size()) &&
           pressed_[static_cast<std::size_t>(xKeycode)];
}

std::optional<TriggerEventRules::Notice> TriggerEventRules::transition(bool down) {
    // Duplicates are dropped: one press and one release per hold.
    if (down == triggerIsDown_) return std::nullopt;
    triggerIsDown_ = down;
    return down ? Notice::press : Notice::release;
}

std::optional<TriggerEventRules::Notice> TriggerEventRules::otherInput() const {
    if (!triggerIsDown_) return std::nullopt;
    return Notice::otherInput;
}

}  // namespace kestrune::x11
