#include "shell/tray/TrayIcon.hpp"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>

#include <chrono>

#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "Kestrune/tray/ApplicationWindows.hpp"
#include "platform/linux/qt/DesktopNotifier.hpp"

namespace kestrune {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// A menu item's shortcut in Qt's terms: the Command bit is Ctrl, Option Alt, Control Super.
QKeySequence keySequence(const tray::StatusMenuItem& item) {
    if (item.keyEquivalent.empty()) return {};
    QString text;
    if (item.keyModifiers & GlobalHotKey::command) text += "Ctrl+";
    if (item.keyModifiers & GlobalHotKey::option) text += "Alt+";
    if (item.keyModifiers & GlobalHotKey::shift) text += "Shift+";
    if (item.keyModifiers & GlobalHotKey::control) text += "Meta+";
    return QKeySequence(text + q(item.keyEquivalent).toUpper(), QKeySequence::PortableText);
}

}  // namespace

TrayIcon::TrayIcon(Dependencies dependencies)
    : deps_(dependencies),
      // The feedback cancels its expiry when it goes, which is before this icon is gone.
      feedback_({deps_.main, [this](const std::string& text) { showFeedback(text); },
                 [this] { clearFeedback(); }}) {}

TrayIcon::~TrayIcon() {
    statusItem_.reset();
    menu_.reset();
}

QIcon TrayIcon::icon(tray::StatusIconLook::Symbol symbol) {
    if (symbol == tray::StatusIconLook::Symbol::radioWaves) {
        return QIcon::fromTheme(QStringLiteral("network-wireless"),
                                QIcon(QStringLiteral(":/icons/radio-waves.svg")));
    }
    return QIcon::fromTheme(QStringLiteral("audio-input-microphone"),
                            QIcon(QStringLiteral(":/icons/microphone.svg")));
}

void TrayIcon::show() {
    // Language changes redraw the menu and the icon; the settings and welcome windows follow the
    // same signal by themselves.
    languageSubscription_ = InterfaceLanguageSignal::observe(lifetime_.guard([this] {
        rebuildMenu();
        updateIcon();
    }));
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    updateIcon();
    rebuildMenu();
    statusItem_->show();
    menuSubscription_ =
        deps_.settings.observeMenuChanges(lifetime_.guard([this] { rebuildMenu(); }));
}

void TrayIcon::phoneConnectionChanged() {
    updateIcon();
    rebuildMenu();
}

void TrayIcon::updateIcon() {
    if (!statusItem_) return;
    look_ = tray::statusIconLook(deps_.phone.state());
    statusItem_->setIcon(icon(look_.symbol));
    if (!feedback_.isShowing()) statusItem_->setToolTip(q(look_.toolTip));
}

tray::StatusMenuState TrayIcon::menuState() const {
    return {
        .waitingCount = deps_.phone.waitingCount(),
        .phoneState = deps_.phone.state(),
        .openedForSending = deps_.phone.openedForSending(),
        .lastFailure = deps_.phone.lastFailure(),
        .selectedLanguage = deps_.settings.selectedLanguage().value(),
        .sendHotKey = deps_.settings.sendToPhoneHotKey().value(),
    };
}

void TrayIcon::fill(QMenu& menu, const std::vector<tray::StatusMenuItem>& items) {
    for (const auto& item : items) {
        switch (item.kind) {
            case tray::StatusMenuItem::Kind::separator:
                menu.addSeparator();
                break;
            case tray::StatusMenuItem::Kind::submenu: {
                QMenu* submenu = menu.addMenu(q(item.title));
                fill(*submenu, item.children);
                break;
            }
            case tray::StatusMenuItem::Kind::action: {
                QAction* action = menu.addAction(q(item.title));
                action->setEnabled(item.enabled);
                action->setCheckable(item.checkable);
                action->setChecked(item.checked);
                action->setShortcut(keySequence(item));
                QObject::connect(
                    action, &QAction::triggered, action,
                    lifetime_.guard([this, command = item.command, argument = item.argument](
                                        bool /*checked*/) { perform(command, argument); }));
                break;
            }
        }
    }
}

// A fresh menu each time something it shows changes; the open one is refilled before it shows.
void TrayIcon::rebuildMenu() {
    if (!statusItem_) return;
    auto fresh = std::make_unique<QMenu>();
    fill(*fresh, tray::fillStatusMenu(menuState()));
    QObject::connect(fresh.get(), &QMenu::aboutToShow, fresh.get(),
                     lifetime_.guard([this] { refillMenu(); }));
    statusItem_->setContextMenu(fresh.get());
    // The old menu may be the one whose action is running now.
    if (menu_) menu_.release()->deleteLater();
    menu_ = std::move(fresh);
}

void TrayIcon::refillMenu() {
    if (!menu_) return;
    menu_->clear();
    fill(*menu_, tray::fillStatusMenu(menuState()));
}

void TrayIcon::perform(tray::StatusMenuCommand command, const std::string& argument) {
    switch (command) {
        case tray::StatusMenuCommand::none:
            break;
        case tray::StatusMenuCommand::sendClipboardToPhone:
            deps_.phone.sendClipboardToPhone();
            break;
        case tray::StatusMenuCommand::clearOutbox:
            deps_.phone.clearOutbox();
            rebuildMenu();
            break;
        case tray::StatusMenuCommand::selectLanguage:
            if (const auto language = appLanguageFromRawValue(argument)) {
                deps_.settings.setSelectedLanguage(*language);
            }
            break;
        case tray::StatusMenuCommand::togglePhoneConnection:
            deps_.phone.toggleFromMenu();
            break;
        case tray::StatusMenuCommand::openSettings:
            deps_.windows.openSettings();
            break;
        case tray::StatusMenuCommand::showAbout:
            deps_.windows.showAbout();
            break;
        case tray::StatusMenuCommand::quit:
            deps_.windows.quit();
            break;
    }
}

void TrayIcon::flash(const std::string& text) {
    if (!statusItem_) return;
    feedback_.flash(text);
}

void TrayIcon::showMessage(const std::string& text) {
    if (!statusItem_) return;
    statusItem_->showMessage(
        q(std::string(kDisplayName)), q(text), QSystemTrayIcon::Information,
        static_cast<int>(std::chrono::milliseconds(tray::StatusFeedback::kShowTime).count()));
}

void TrayIcon::showFeedback(const std::string& text) {
    statusItem_->setToolTip(q(text));
    deps_.notifier.show(text, std::chrono::duration_cast<std::chrono::milliseconds>(
                                  tray::StatusFeedback::kShowTime));
}

void TrayIcon::clearFeedback() {
    statusItem_->setToolTip(q(look_.toolTip));
    deps_.notifier.close();
}

}  // namespace kestrune
