#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "Kestrune/phone/controller/RemoteInputLifecycle.hpp"

namespace kestrune::tray {

// What choosing a status menu item does; the tray carries it out.
enum class StatusMenuCommand {
    none,  // an informational line
    sendClipboardToPhone,
    clearOutbox,
    selectLanguage,  // `argument` holds the language's raw value
    togglePhoneConnection,
    openSettings,
    showAbout,
    quit,
};

// One line of the status menu, as the tray draws it. `keyEquivalent` is a lower-case character
// shown with `keyModifiers` (GlobalHotKey's flag bits); empty when the item shows no shortcut.
struct StatusMenuItem {
    enum class Kind { action, separator, submenu };
    Kind kind = Kind::action;
    std::string title;
    StatusMenuCommand command = StatusMenuCommand::none;
    std::string argument;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    std::string keyEquivalent;
    std::uint64_t keyModifiers = 0;
    std::vector<StatusMenuItem> children;

    bool operator==(const StatusMenuItem&) const = default;
};

// Everything the status menu depends on, read from the settings and Phone Connection's controller
// at the moment the menu is rebuilt.
struct StatusMenuState {
    std::size_t waitingCount = 0;
    RemoteInputLifecycle::State phoneState = RemoteInputLifecycle::Off{};
    bool openedForSending = false;
    std::optional<std::string> lastFailure;
    AppLanguage selectedLanguage = AppLanguage::simplifiedChinese;
    std::optional<GlobalHotKey> sendHotKey;
    // Only with an update feed; there is none on Linux.
};

// The status menu from scratch, top to bottom: the waiting line, Send Clipboard to Phone, Clear
// Waiting Items, Speech Language, the Phone Connection switch, Settings…, About and Quit. Texts are
// looked up in the interface language now applied.
std::vector<StatusMenuItem> fillStatusMenu(const StatusMenuState& state);

// The tray icon's look for a connection state: the radio-waves icon and its localized tool tip
// while Phone Connection is on (whatever the port), else the microphone and "Murrelo".
struct StatusIconLook {
    enum class Symbol { microphone, radioWaves };
    Symbol symbol = Symbol::microphone;
    std::string toolTip;
    bool operator==(const StatusIconLook&) const = default;
};
StatusIconLook statusIconLook(const RemoteInputLifecycle::State& phoneState);

}  // namespace kestrune::tray
