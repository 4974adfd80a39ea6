#pragma once

#include <QIcon>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/tray/StatusFeedback.hpp"
#include "Kestrune/tray/StatusMenu.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

class QMenu;
class QSystemTrayIcon;

namespace kestrune {

class DesktopNotifier;
class RemoteInputController;
class SettingsStore;

namespace tray {
class ApplicationWindows;
}

// The status icon in the tray and its menu. The menu is the Qt-free status menu, made afresh
// whenever something it shows changes (and refilled just before it opens); the icon's look follows
// Phone Connection's state; a short feedback text (`flash`) shows as the icon's tool tip and as a
// desktop notification for StatusFeedback::kShowTime. GUI thread only; `main` is the Qt event
// loop's queue, and every dependency outlives the icon.
class TrayIcon {
  public:
    static constexpr std::string_view kDisplayName = "Murrelo";

    struct Dependencies {
        MainQueue& main;
        RemoteInputController& phone;
        SettingsStore& settings;
        DesktopNotifier& notifier;
        tray::ApplicationWindows& windows;
    };

    explicit TrayIcon(Dependencies dependencies);
    // The icon goes before its menu: it refers to the menu until it is gone.
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Puts the icon in the tray with its menu; from then on both follow the interface language
    // and the settings the menu shows.
    void show();
    // Phone Connection's state changed: the icon's look and the menu follow.
    void phoneConnectionChanged();
    void rebuildMenu();
    // A short text beside the icon: its tool tip and a desktop notification, for 4 s.
    void flash(const std::string& text);
    // The icon's own balloon, for a session without a notification service.
    void showMessage(const std::string& text);

    // The theme's icon, else the one built into the program (a bare X session has no icon theme).
    static QIcon icon(tray::StatusIconLook::Symbol symbol);

    // For tests: the parts on screen.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    QMenu* statusMenu() const { return menu_.get(); }

  private:
    void updateIcon();
    tray::StatusMenuState menuState() const;
    void fill(QMenu& menu, const std::vector<tray::StatusMenuItem>& items);
    void refillMenu();
    void perform(tray::StatusMenuCommand command, const std::string& argument);
    void showFeedback(const std::string& text);
    void clearFeedback();

    Dependencies deps_;
    tray::StatusFeedback feedback_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    tray::StatusIconLook look_;
    Subscription languageSubscription_;
    Subscription menuSubscription_;
    Lifetime lifetime_;
};

}  // namespace kestrune
