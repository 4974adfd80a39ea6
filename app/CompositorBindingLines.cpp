#include "app/CompositorBindingLines.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/tray/CompositorBindings.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "platform/linux/wayland/TypingKeymap.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"

namespace kestrune::app {

namespace {

std::optional<std::string> keysymOf(const wayland::TypingKeymap& layout, std::int64_t keyCode) {
    auto evdev = x11::evdevCode(keyCode);
    if (!evdev) return std::nullopt;
    return layout.keysymName(static_cast<std::uint32_t>(*evdev));
}

}  // namespace

Result<std::string, UnbindableTriggerKey> compositorBindingLines(
    const TriggerKey& trigger, const std::optional<GlobalHotKey>& shortcut,
    std::string_view program) {
    auto layout = wayland::TypingKeymap::fromDefaults();
    std::optional<std::string> triggerName;
    if (layout) triggerName = keysymOf(*layout, trigger.keyCode());
    if (!triggerName) {
        return UnbindableTriggerKey{localizedFormat(
            "The trigger key %s cannot be bound by the compositor: choose another trigger key in "
            "Settings.",
            {KeyCatalog::name(trigger.keyCode())})};
    }
    tray::BindingKeys keys{*triggerName, std::nullopt, 0};
    if (shortcut) {
        keys.sendKey = keysymOf(*layout, shortcut->keyCode);
        keys.sendModifiers = shortcut->modifiers;
    }
    return tray::compositorBindings(program, keys);
}

Result<std::string, UnbindableTriggerKey> compositorBindingLines(const UserDefaults& settings,
                                                                 std::string_view program) {
    const auto trigger =
        TriggerKey::fromPersistedValue(settings.string(settings_keys::triggerKey).value_or(""))
            .value_or(TriggerKey::modifier(SettingsStore::kDefaultTriggerKeyCode));
    std::optional<GlobalHotKey> shortcut;
    if (auto raw = settings.string(settings_keys::sendToPhoneHotKey)) {
        shortcut = GlobalHotKey::fromPersistedValue(*raw);
    }
    return compositorBindingLines(trigger, shortcut, program);
}

}  // namespace kestrune::app
