#include "Kestrune/tray/StatusMenu.hpp"

#include <cctype>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::tray {

namespace {

StatusMenuItem action(std::string title, StatusMenuCommand command) {
    StatusMenuItem item;
    item.title = std::move(title);
    item.command = command;
    return item;
}

StatusMenuItem separator() {
    StatusMenuItem item;
    item.kind = StatusMenuItem::Kind::separator;
    return item;
}

StatusMenuItem withKey(StatusMenuItem item, std::string key, std::uint64_t modifiers) {
    item.keyEquivalent = std::move(key);
    item.keyModifiers = modifiers;
    return item;
}

// A shortcut is shown beside its item only when its key is named by a single character (a letter,
// a digit, a punctuation mark); "F5" or "Space" would not read as a key equivalent.
StatusMenuItem sendClipboardItem(const std::optional<GlobalHotKey>& hotKey) {
    auto item =
        action(localized("Send Clipboard to Phone"), StatusMenuCommand::sendClipboardToPhone);
    if (!hotKey) return item;
    const std::string name = KeyCatalog::name(hotKey->keyCode);
    if (name.size() != 1) return item;
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    return withKey(std::move(item), std::string(1, lower), hotKey->modifiers);
}

}  // namespace

std::vector<StatusMenuItem> fillStatusMenu(const StatusMenuState& state) {
    const bool serviceOff = std::holds_alternative<RemoteInputLifecycle::Off>(state.phoneState);
    const bool isOn = std::holds_alternative<RemoteInputLifecycle::On>(state.phoneState);
    std::vector<StatusMenuItem> items;

    if (state.waitingCount > 0) {
        auto waiting = action(RemoteInputController::waitingTitle(state.waitingCount, serviceOff),
                              StatusMenuCommand::none);
        waiting.enabled = false;
        items.push_back(std::move(waiting));
    }
    items.push_back(sendClipboardItem(state.sendHotKey));
    if (state.waitingCount > 0) {
        items.push_back(action(localized("Clear Waiting Items"), StatusMenuCommand::clearOutbox));
    }
    items.push_back(separator());

    StatusMenuItem languages;
    languages.kind = StatusMenuItem::Kind::submenu;
    languages.title = localized("Speech Language");
    for (const AppLanguage language : kAllAppLanguages) {
        auto item = action(std::string(displayName(language)), StatusMenuCommand::selectLanguage);
        item.argument = std::string(rawValue(language));
        item.checkable = true;
        item.checked = language == state.selectedLanguage;
        languages.children.push_back(std::move(item));
    }
    items.push_back(std::move(languages));

    auto phone = action(RemoteInputController::toggleTitle(state.phoneState, state.openedForSending,
                                                           state.lastFailure),
                        StatusMenuCommand::togglePhoneConnection);
    phone.checkable = true;
    phone.checked = isOn;
    items.push_back(std::move(phone));
    items.push_back(separator());

    items.push_back(withKey(action(localized("Settings…"), StatusMenuCommand::openSettings), ",",
                            GlobalHotKey::command));
    items.push_back(action(localized("About Murrelo"), StatusMenuCommand::showAbout));
    items.push_back(withKey(action(localized("Quit Murrelo"), StatusMenuCommand::quit), "q",
                            GlobalHotKey::command));
    return items;
}

StatusIconLook statusIconLook(const RemoteInputLifecycle::State& phoneState) {
    if (std::holds_alternative<RemoteInputLifecycle::On>(phoneState)) {
        return {StatusIconLook::Symbol::radioWaves, localized("Murrelo — Phone Connection is on")};
    }
    // The product's name is never translated.
    return {StatusIconLook::Symbol::microphone, "Murrelo"};
}

}  // namespace kestrune::tray
