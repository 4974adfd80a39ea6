#include "Kestrune/settings/ui/TriggerKeyChoices.hpp"

#include <algorithm>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::SettingsControls {

namespace {
// The Fn key's code in the catalog.
constexpr std::int64_t kFnKeyCode = 63;
}  // namespace

std::string title(const TriggerKey& key) {
    const std::string name = KeyCatalog::name(key.keyCode());
    if (key.isPreset()) return name;
    return localizedFormat("%s (custom)", {name});
}

bool isOfferedPreset(const TriggerKey& key) {
    return key.isPreset() && key != TriggerKey::modifier(kFnKeyCode);
}

std::vector<TriggerKey> triggerKeyChoices(const TriggerKey& current) {
    std::vector<TriggerKey> choices;
    if (!isOfferedPreset(current)) choices.push_back(current);
    for (const auto& preset : TriggerKey::presets()) {
        if (isOfferedPreset(preset)) choices.push_back(preset);
    }
    return choices;
}

std::string triggerKeyCaption() {
    return localized("Fn is not offered: an X11 session cannot watch it");
}

}  // namespace kestrune::SettingsControls
