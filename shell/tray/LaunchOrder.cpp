#include "shell/tray/LaunchOrder.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/tray/ControlAnswers.hpp"
#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"
#include "shell/tray/SendShortcut.hpp"
#include "shell/tray/TrayIcon.hpp"
#include "shell/tray/TrayWindows.hpp"
#include "shell/welcome/WelcomeWindowController.hpp"

namespace kestrune {

LaunchOrder::LaunchOrder(Dependencies dependencies) : deps_(dependencies) {}

void LaunchOrder::launch() {
    // 1. The interface language before any text is made.
    const auto& defaults = deps_.settings.defaults();
    InterfaceLanguage::stored([&](std::string_view key) { return defaults->string(key); }).apply();
    // 2.–3. The status item, following language changes and the settings its menu shows.
    deps_.icon.show();
    // 4. The Send-to-Phone shortcut, following its setting.
    deps_.shortcut.start();
    // 5.–6. The push-to-talk key is watched from now on; when the welcome window shows, it
    //    explains the permissions itself, so the coordinator gives no notice of its own.
    const bool showWelcome = WelcomeWindowController::shouldShowAtLaunch(deps_.settings);
    deps_.dictation.start(/*promptForAccessibility=*/!showWelcome);
    // 7. Phone Connection's state draws the icon and settles the control interface's answers;
    //    its send feedback is flashed.
    phoneStatus_ = deps_.phone.observeStatus([this](const RemoteInputController::State&) {
        deps_.icon.phoneConnectionChanged();
        deps_.answers.phoneConnectionChanged();
    });
    sendFeedback_ = deps_.phone.observeSendFeedback(
        [this](const std::string& text) { deps_.icon.flash(text); });
    // 8. Back on if it was on when the application last ran.
    deps_.phone.restoreIfEnabled();
    // 9. A first run opens the welcome window.
    if (showWelcome) deps_.windows.showWelcome();
}

void LaunchOrder::quit() {
    // 1. Text typed into the settings window but not yet committed is kept.
    deps_.windows.commitDrafts();
    // 2. No key watching and no recording from here on; nothing more is typed.
    deps_.dictation.stop();
    // 3. Phone Connection settles: a start in progress is told to stop once up; a running
    //    server stops. The stored intent stays, so the next launch restores it.
    deps_.phone.turnOff(/*recordIntent=*/false);
}

}  // namespace kestrune
