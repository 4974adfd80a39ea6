#include "shell/tray/TrayWindows.hpp"

#include <QApplication>
#include <QMessageBox>

#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "shell/settings/SettingsWiring.hpp"
#include "shell/tray/TrayIcon.hpp"
#include "shell/welcome/WelcomeWindowController.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "TrayWindows";

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

TrayWindows::TrayWindows(Dependencies dependencies) : deps_(std::move(dependencies)) {}

TrayWindows::~TrayWindows() {
    if (about_) delete about_.data();
}

void TrayWindows::openSettings() {
    log(LogLevel::info, kLogCategory, "settings window requested");
    if (!settingsWindow_) {
        launchAtLogin_ = std::make_unique<LaunchAtLoginModel>(deps_.loginItem);
        settingsWindow_ = std::make_unique<ApplicationSettings>(
            deps_.settingsWindow,
            ApplicationSettings::Callbacks{
                .onTriggerKeyChange = lifetime_.guard(
                    [this](TriggerKey key) { deps_.dictation.updateTriggerKey(key); }),
                .onShowWelcome = lifetime_.guard([this] { showWelcome(); }),
                .onHotKeyRecording = deps_.onHotKeyRecording,
                .launchAtLogin = settings_wiring::launchAtLoginControls(*launchAtLogin_),
            });
    }
    settingsWindow_->window().show();
}

void TrayWindows::showWelcome() {
    if (!welcome_) {
        welcome_ = std::make_unique<WelcomeWindowController>(WelcomeWindowController::Dependencies{
            .settings = deps_.settingsWindow.settings,
            .isTrusted = deps_.isTrusted,
            .isWaylandOnly = {},
            .setFinalTextOverride =
                lifetime_.guard([this](WelcomeWindowController::FinalTextReceiver receiver) {
                    deps_.dictation.setFinalTextOverride(std::move(receiver));
                }),
            .onTriggerKeyChange =
                lifetime_.guard([this](TriggerKey key) { deps_.dictation.updateTriggerKey(key); }),
            .speechHint = deps_.speechHint,
            .openSettings = lifetime_.guard([this] { openSettings(); }),
            .onClose = lifetime_.guard([this] { welcome_.reset(); }),
        });
    }
    welcome_->show();
}

void TrayWindows::showAbout() {
    if (!about_) {
        about_ = new QMessageBox(QMessageBox::Information, localized("About Murrelo").c_str(),
                                 QString(), QMessageBox::Ok);
        about_->setAttribute(Qt::WA_DeleteOnClose);
        about_->setIconPixmap(TrayIcon::icon(tray::StatusIconLook::Symbol::microphone).pixmap(64));
    }
    about_->setText(QStringLiteral("<b>%1</b> %2<br><br>%3")
                        .arg(q(std::string(TrayIcon::kDisplayName)),
                             QApplication::applicationVersion(),
                             q(localized("Hold a key, speak, and your words are typed "
                                         "wherever your cursor is."))));
    about_->show();
    about_->raise();
    about_->activateWindow();
}

void TrayWindows::quit() {
    QApplication::quit();
}

void TrayWindows::commitDrafts() {
    if (settingsWindow_) settingsWindow_->window().commitDrafts();
}

}  // namespace kestrune
