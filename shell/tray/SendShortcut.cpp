#include "shell/tray/SendShortcut.hpp"

#include <utility>

#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/tray/TrayIcon.hpp"

namespace kestrune {

SendShortcut::SendShortcut(Dependencies dependencies)
    : deps_(dependencies),
      // The center unregisters the shortcut when it goes, before this object is gone.
      center_([this] { deps_.phone.sendClipboardToPhone(); }, nullptr, &deps_.service) {}

void SendShortcut::start() {
    registerHotKey(deps_.settings.sendToPhoneHotKey().value());
    subscription_ = deps_.settings.sendToPhoneHotKey().subscribe(
        [this, current = true](const std::optional<GlobalHotKey>& hotKey) mutable {
            // The current value comes first; it was registered above.
            if (std::exchange(current, false)) return;
            deps_.main.post(lifetime_.guard([this, hotKey] {
                registerHotKey(hotKey);
                deps_.icon.rebuildMenu();
            }));
        });
}

void SendShortcut::setRecording(bool recording) {
    if (recording) {
        if (!center_.isSuspended()) center_.suspend();
        return;
    }
    if (center_.isSuspended() && !center_.resume()) {
        deps_.icon.flash(localized("Couldn’t register this shortcut."));
    }
}

void SendShortcut::registerHotKey(const std::optional<GlobalHotKey>& hotKey) {
    // While suspended only the wanted value changes, and that counts as success.
    if (!center_.setHotKey(hotKey)) deps_.icon.flash(localized("Couldn’t register this shortcut."));
}

}  // namespace kestrune
