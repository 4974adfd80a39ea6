#include "shell/tray/TrayApplication.hpp"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSystemTrayIcon>

#include <chrono>
#include <vector>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "Kestrune/tray/StatusFeedback.hpp"
#include "Kestrune/tray/StatusMenu.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "app/Dictation.hpp"
#include "app/PhoneConnection.hpp"
#include "app/Services.hpp"
#include "platform/linux/autostart/XdgAutostart.hpp"
#include "platform/linux/qt/ComputerName.hpp"
#include "platform/linux/qt/DesktopNotifier.hpp"
#include "platform/linux/qt/NonModalPrompt.hpp"
#include "platform/linux/x11/HotKeyService.hpp"
#include "platform/linux/x11/X11Typist.hpp"
#include "shell/hud/HUDPanelController.hpp"
#include "shell/pairing/PairingWindowController.hpp"
#include "shell/settings/ApplicationSettings.hpp"
#include "shell/settings/SettingsWiring.hpp"
#include "shell/welcome/WelcomeWindowController.hpp"

namespace kestrune {

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kLogCategory = "TrayApplication";
// A pairing link asked for over the control interface: the server's first start makes its
// certificate, which takes seconds on a busy machine; past this the caller hears it failed.
constexpr auto kPairingLinkWait = 90s;
// A stopping server closes its connections with a grace of its own (2 s); past this the caller
// hears the state as it is.
constexpr auto kStopWait = 10s;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// The theme's icon, else the one built into the program (a bare X session has no icon theme).
QIcon statusIcon(tray::StatusIconLook::Symbol symbol) {
    if (symbol == tray::StatusIconLook::Symbol::radioWaves) {
        return QIcon::fromTheme(QStringLiteral("network-wireless"),
                                QIcon(QStringLiteral(":/icons/radio-waves.svg")));
    }
    return QIcon::fromTheme(QStringLiteral("audio-input-microphone"),
                            QIcon(QStringLiteral(":/icons/microphone.svg")));
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

// Whether Phone Connection is on or on its way there: a start that was told to stop once up
// counts as off, as the user sees it.
bool headingOn(const RemoteInputLifecycle::State& state) {
    if (const auto* starting = std::get_if<RemoteInputLifecycle::Starting>(&state)) {
        return !starting->stopRequested;
    }
    return std::holds_alternative<RemoteInputLifecycle::On>(state);
}

// The pairing window that also tells who asked over the control interface which link it shows.
class ReportingPairingWindow final : public PairingWindow {
  public:
    ReportingPairingWindow(std::function<void(const std::string&)> onLink)
        : onLink_(std::move(onLink)) {}
    void present(const std::string& address) override { window_.present(address); }
    void showLink(const std::string& link) override {
        window_.showLink(link);
        if (window_.shownLink() == link) onLink_(link);
    }
    void close() override { window_.close(); }
    bool isVisible() const override { return window_.isVisible(); }
    Subscription observeClose(std::function<void()> observer) override {
        return window_.observeClose(std::move(observer));
    }

  private:
    PairingWindowController window_;
    std::function<void(const std::string&)> onLink_;
};

}  // namespace

struct TrayApplication::Impl : std::enable_shared_from_this<Impl> {
    Impl(MainQueue& main, Options options) : main(main), options(std::move(options)) {}

    // A callback that holds the delegate weakly and does nothing once it is gone.
    template <typename F>
    auto weakly(F body) {
        return [weak = weak_from_this(), body](auto&&... args) {
            if (auto self = weak.lock()) body(*self, std::forward<decltype(args)>(args)...);
        };
    }

    void make() {
        services = std::make_unique<app::Services>(main);
        app::PhoneConnectionWindows windows{
            .presentAlert =
                weakly([](Impl& self, const std::string& title, const std::string& message) {
                    self.failPairingRepliesWithText(title + " " + message);
                    presentQtAlert(title, message);
                }),
            .showApproval = qtApprovalPrompts(),
            .makePairingWindow = [weak = weak_from_this()]() -> std::unique_ptr<PairingWindow> {
                return std::make_unique<ReportingPairingWindow>([weak](const std::string& link) {
                    if (auto self = weak.lock()) self->answerPairingReplies(link);
                });
            },
            .observeLanguageChange =
                [](std::function<void()> observer) {
                    return InterfaceLanguageSignal::observe(std::move(observer));
                },
            .computerName = [] { return computerName(); },
        };
        phone = std::make_unique<app::PhoneConnection>(*services, main, std::move(windows),
                                                       options.phone);
        panel = std::make_unique<HUDPanelController>();
        dictation = std::make_unique<app::Dictation>(*services, main, *panel);
        hotKeyService = std::make_unique<x11::HotKeyService>(main);
        sendHotKey = std::make_unique<GlobalHotKeyCenter>(
            weakly([](Impl& self) { self.controller().sendClipboardToPhone(); }), nullptr,
            hotKeyService.get());
        feedback = std::make_unique<tray::StatusFeedback>(tray::StatusFeedback::Dependencies{
            main, weakly([](Impl& self, const std::string& text) { self.showFeedback(text); }),
            weakly([](Impl& self) { self.clearFeedback(); })});
        notifier = std::make_unique<DesktopNotifier>(DesktopNotifier::Options{
            std::string(kDisplayName), "audio-input-microphone",
            weakly([](Impl& self, const std::string& text) {
                // No notification service: the tray's own balloon or message.
                if (self.statusItem) {
                    self.statusItem->showMessage(
                        q(std::string(kDisplayName)), q(text), QSystemTrayIcon::Information,
                        static_cast<int>(
                            std::chrono::milliseconds(tray::StatusFeedback::kShowTime).count()));
                }
            })});
    }

    RemoteInputController& controller() { return phone->controller(); }
    SettingsStore& settings() { return services->settings(); }

    // ----- launch and quit -----

    void didFinishLaunching() {
        // 1. The interface language before any text is made.
        const auto defaults = services->defaults();
        InterfaceLanguage::stored([&](std::string_view key) {
            return defaults->string(key);
        }).apply();
        // 2. Language changes redraw the menu and the icon.
        languageSubscription =
            InterfaceLanguageSignal::observe(weakly([](Impl& self) { self.refreshLanguage(); }));
        // 3. The status item.
        configureStatusItem();
        // 4. The settings the menu and the shortcut follow.
        menuSubscription =
            settings().observeMenuChanges(weakly([](Impl& self) { self.rebuildMenu(); }));
        registerSendHotKey(settings().sendToPhoneHotKey().value());
        hotKeySubscription = settings().sendToPhoneHotKey().subscribe(
            [weak = weak_from_this(),
             current = std::make_shared<bool>(true)](const std::optional<GlobalHotKey>& hotKey) {
                // The current value comes first; it was registered above.
                if (std::exchange(*current, false)) return;
                auto self = weak.lock();
                if (!self) return;
                self->main.post([weak, hotKey] {
                    if (auto self = weak.lock()) {
                        self->registerSendHotKey(hotKey);
                        self->rebuildMenu();
                    }
                });
            });
        // 5.–6. The push-to-talk key is watched from now on; when the welcome window shows, it
        //    explains the permissions itself, so the coordinator gives no notice of its own.
        const bool showWelcome = WelcomeWindowController::shouldShowAtLaunch(settings());
        dictation->coordinator().start(/*promptForAccessibility=*/!showWelcome);
        // 7. Phone Connection's state draws the icon; its send feedback is flashed.
        phoneStatusSubscription =
            controller().observeStatus(weakly([](Impl& self, const RemoteInputController::State&) {
                self.updateIcon();
                self.rebuildMenu();
                self.answerSettledReplies();
            }));
        sendFeedbackSubscription = controller().observeSendFeedback(
            weakly([](Impl& self, const std::string& text) { self.flash(text); }));
        // 8. Back on if it was on when the application last ran.
        controller().restoreIfEnabled();
        // 9. A first run opens the welcome window.
        if (showWelcome) showWelcomeWindow();
    }

    void willTerminate() {
        // 1. Text typed into the settings window but not yet committed is kept.
        if (settingsWindow) settingsWindow->window().commitDrafts();
        // 2. No key watching and no recording from here on; nothing more is typed.
        dictation->coordinator().stop();
        // 3. Phone Connection settles: a start in progress is told to stop once up; a running
        //    server stops. The stored intent stays, so the next launch restores it.
        controller().turnOff(/*recordIntent=*/false);
    }

    // ----- status item -----

    void configureStatusItem() {
        statusItem = std::make_unique<QSystemTrayIcon>();
        updateIcon();
        rebuildMenu();
        statusItem->show();
    }

    void updateIcon() {
        if (!statusItem) return;
        look = tray::statusIconLook(controller().state());
        statusItem->setIcon(statusIcon(look.symbol));
        if (!feedback->isShowing()) statusItem->setToolTip(q(look.toolTip));
    }

    tray::StatusMenuState menuState() {
        return {
            .waitingCount = controller().waitingCount(),
            .phoneState = controller().state(),
            .openedForSending = controller().openedForSending(),
            .lastFailure = controller().lastFailure(),
            .selectedLanguage = settings().selectedLanguage().value(),
            .sendHotKey = settings().sendToPhoneHotKey().value(),
        };
    }

    void fill(QMenu& menu, const std::vector<tray::StatusMenuItem>& items) {
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
                    QObject::connect(action, &QAction::triggered, action,
                                     [weak = weak_from_this(), command = item.command,
                                      argument = item.argument] {
                                         if (auto self = weak.lock())
                                             self->perform(command, argument);
                                     });
                    break;
                }
            }
        }
    }

    // A fresh menu each time something it shows changes; the open one is refilled before it shows.
    void rebuildMenu() {
        if (!statusItem) return;
        auto fresh = std::make_unique<QMenu>();
        fill(*fresh, tray::fillStatusMenu(menuState()));
        QObject::connect(fresh.get(), &QMenu::aboutToShow, fresh.get(),
                         weakly([](Impl& self) { self.menuNeedsUpdate(); }));
        statusItem->setContextMenu(fresh.get());
        // The old menu may be the one whose action is running now.
        if (menu) menu.release()->deleteLater();
        menu = std::move(fresh);
    }

    void menuNeedsUpdate() {
        if (!menu) return;
        menu->clear();
        fill(*menu, tray::fillStatusMenu(menuState()));
    }

    void perform(tray::StatusMenuCommand command, const std::string& argument) {
        switch (command) {
            case tray::StatusMenuCommand::none:
                break;
            case tray::StatusMenuCommand::sendClipboardToPhone:
                controller().sendClipboardToPhone();
                break;
            case tray::StatusMenuCommand::clearOutbox:
                controller().clearOutbox();
                rebuildMenu();
                break;
            case tray::StatusMenuCommand::selectLanguage:
                if (const auto language = appLanguageFromRawValue(argument)) {
                    settings().setSelectedLanguage(*language);
                }
                break;
            case tray::StatusMenuCommand::togglePhoneConnection:
                controller().toggleFromMenu();
                break;
            case tray::StatusMenuCommand::openSettings:
                openSettingsWindow();
                break;
            case tray::StatusMenuCommand::showAbout:
                showAbout();
                break;
            case tray::StatusMenuCommand::quit:
                QApplication::quit();
                break;
        }
    }

    void refreshLanguage() {
        rebuildMenu();
        updateIcon();
        // The settings and welcome windows follow the same signal by themselves.
    }

    // ----- feedback -----

    void flash(const std::string& text) {
        if (!statusItem) return;
        feedback->flash(text);
    }

    void showFeedback(const std::string& text) {
        statusItem->setToolTip(q(text));
        notifier->show(text, std::chrono::duration_cast<std::chrono::milliseconds>(
                                 tray::StatusFeedback::kShowTime));
    }

    void clearFeedback() {
        statusItem->setToolTip(q(look.toolTip));
        notifier->close();
    }

    // ----- shortcut -----

    void registerSendHotKey(const std::optional<GlobalHotKey>& hotKey) {
        // While suspended only the wanted value changes, and that counts as success.
        if (!sendHotKey->setHotKey(hotKey)) flash(localized("Couldn’t register this shortcut."));
    }

    void setHotKeyRecording(bool recording) {
        if (recording) {
            if (!sendHotKey->isSuspended()) sendHotKey->suspend();
            return;
        }
        if (sendHotKey->isSuspended() && !sendHotKey->resume()) {
            flash(localized("Couldn’t register this shortcut."));
        }
    }

    // The control surface's push-to-talk: the trigger key's press and release without a key.
    std::function<ControlHandlers::Outcome()> dictationControl(void (AppCoordinator::*action)()) {
        return [weak = weak_from_this(), action] {
            auto self = weak.lock();
            if (!self) return ControlHandlers::Outcome(localized("Murrelo is quitting."));
            (self->dictation->coordinator().*action)();
            return ControlHandlers::Outcome();
        };
    }

    // ----- windows -----

    // Made on first use and kept, so that its pane and drafts survive closing it.
    ControlHandlers::Outcome openSettingsWindow() {
        log(LogLevel::info, kLogCategory, "settings window requested");
        if (!settingsWindow) {
            launchAtLogin = std::make_unique<LaunchAtLoginModel>(
                xdg_autostart::makeLoginItem(xdg_autostart::currentLocations()));
            settingsWindow = std::make_unique<ApplicationSettings>(
                *services, controller(), main,
                ApplicationSettings::Callbacks{
                    .onTriggerKeyChange = weakly([](Impl& self, TriggerKey key) {
                        self.dictation->coordinator().updateTriggerKey(key);
                    }),
                    .onShowWelcome = weakly([](Impl& self) { self.showWelcomeWindow(); }),
                    .onHotKeyRecording = weakly(
                        [](Impl& self, bool recording) { self.setHotKeyRecording(recording); }),
                    .launchAtLogin = settings_wiring::launchAtLoginControls(*launchAtLogin),
                });
        }
        settingsWindow->window().show();
        return ControlHandlers::Outcome();
    }

    // Made on each first show, dropped when it closes.
    void showWelcomeWindow() {
        if (!welcome) {
            welcome =
                std::make_unique<WelcomeWindowController>(WelcomeWindowController::Dependencies{
                    .settings = settings(),
                    .isTrusted = [] { return x11::isTrusted(); },
                    .isWaylandOnly = {},
                    .setFinalTextOverride =
                        weakly([](Impl& self, WelcomeWindowController::FinalTextReceiver receiver) {
                            self.dictation->coordinator().setFinalTextOverride(std::move(receiver));
                        }),
                    .onTriggerKeyChange = weakly([](Impl& self, TriggerKey key) {
                        self.dictation->coordinator().updateTriggerKey(key);
                    }),
                    .onClose = weakly([](Impl& self) { self.welcome.reset(); }),
                });
        }
        welcome->show();
    }

    void showAbout() {
        if (!about) {
            about = new QMessageBox(QMessageBox::Information, localized("About Murrelo").c_str(),
                                    QString(), QMessageBox::Ok);
            about->setAttribute(Qt::WA_DeleteOnClose);
            about->setIconPixmap(statusIcon(tray::StatusIconLook::Symbol::microphone).pixmap(64));
        }
        about->setText(QStringLiteral("<b>%1</b> %2<br><br>%3")
                           .arg(q(std::string(kDisplayName)), QApplication::applicationVersion(),
                                q(localized("Hold a key, speak, and your words are typed "
                                            "wherever your cursor is."))));
        about->show();
        about->raise();
        about->activateWindow();
    }

    // ----- Phone Connection's state for the control interface -----

    // A server told to stop is on until it has stopped (a moment later): the answer waits for
    // that, so "off" is never answered while it still listens. Starting counts as on at once.
    void answerOnceSettled(ControlHandlers::StateReply reply) {
        const auto& state = controller().state();
        if (!std::holds_alternative<RemoteInputLifecycle::On>(state) || !stopAsked()) {
            return reply(headingOn(state));
        }
        const TaskId expiry = main.postAfter(
            kStopWait, weakly([](Impl& self) { self.answerSettledReplies(/*timedOut=*/true); }));
        settleReplies.push_back({std::move(reply), expiry});
    }

    void answerSettledReplies(bool timedOut = false) {
        if (settleReplies.empty()) return;
        if (!timedOut && std::holds_alternative<RemoteInputLifecycle::On>(controller().state())) {
            return;
        }
        const bool now = headingOn(controller().state());
        for (auto& waiting : std::exchange(settleReplies, {})) {
            main.cancel(waiting.expiry);
            waiting.reply(now);
        }
    }

    // The state asked for over the control interface. A start told to stop reaches `On` for a
    // moment before its server stops; that is already off, as the answer to the toggle said.
    bool reportedOn() {
        const auto& state = controller().state();
        if (std::holds_alternative<RemoteInputLifecycle::On>(state) && stopAsked() &&
            !controller().openedForSending()) {
            return false;
        }
        return headingOn(state);
    }

    // The stored intent is off while the server still runs: a stop is under way.
    bool stopAsked() {
        return !services->defaults()->boolean(RemoteInputController::kEnabledKey).value_or(false);
    }

    // ----- pairing link for the control interface -----

    void showPairing(ControlHandlers::LinkReply reply) {
        const TaskId expiry =
            main.postAfter(kPairingLinkWait, weakly([](Impl& self) {
                               self.failPairingReplies("The pairing code did not appear in time.");
                           }));
        pairingReplies.push_back({std::move(reply), expiry});
        if (std::holds_alternative<RemoteInputLifecycle::On>(controller().state())) {
            controller().showPairingWindow();
        } else {
            controller().turnOn(/*thenPair=*/true);
        }
    }

    void answerPairingReplies(const std::string& link) {
        for (auto& waiting : std::exchange(pairingReplies, {})) {
            main.cancel(waiting.expiry);
            waiting.reply(link);
        }
    }

    void failPairingReplies(const std::string& englishWhy) {
        failPairingRepliesWithText(localized(englishWhy));
    }

    void failPairingRepliesWithText(const std::string& why) {
        for (auto& waiting : std::exchange(pairingReplies, {})) {
            main.cancel(waiting.expiry);
            waiting.reply(ControlHandlers::LinkFailure{why});
        }
    }

    MainQueue& main;
    Options options;
    std::unique_ptr<app::Services> services;
    std::unique_ptr<app::PhoneConnection> phone;
    // The coordinator goes before the panel it draws on, both before the services.
    std::unique_ptr<HUDPanelController> panel;
    std::unique_ptr<app::Dictation> dictation;
    std::unique_ptr<WelcomeWindowController> welcome;
    // The window goes before the model of its launch-at-login switch.
    std::unique_ptr<LaunchAtLoginModel> launchAtLogin;
    std::unique_ptr<ApplicationSettings> settingsWindow;
    std::unique_ptr<x11::HotKeyService> hotKeyService;
    std::unique_ptr<GlobalHotKeyCenter> sendHotKey;
    std::unique_ptr<tray::StatusFeedback> feedback;
    std::unique_ptr<DesktopNotifier> notifier;
    // The icon goes before its menu: it refers to the menu until it is gone.
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<QSystemTrayIcon> statusItem;
    QPointer<QMessageBox> about;
    tray::StatusIconLook look;
    Subscription languageSubscription;
    Subscription menuSubscription;
    Subscription hotKeySubscription;
    Subscription phoneStatusSubscription;
    Subscription sendFeedbackSubscription;
    struct PairingReply {
        ControlHandlers::LinkReply reply;
        TaskId expiry;
    };
    std::vector<PairingReply> pairingReplies;
    struct SettleReply {
        ControlHandlers::StateReply reply;
        TaskId expiry;
    };
    std::vector<SettleReply> settleReplies;
};

TrayApplication::TrayApplication(MainQueue& main, Options options)
    : impl_(std::make_shared<Impl>(main, std::move(options))) {
    impl_->make();
}

TrayApplication::~TrayApplication() {
    // Nobody waits on an answer that will not come.
    impl_->failPairingReplies("Murrelo quit before the pairing code appeared.");
    impl_->answerSettledReplies(/*timedOut=*/true);
    if (impl_->about) delete impl_->about.data();
}

void TrayApplication::applicationDidFinishLaunching() {
    impl_->didFinishLaunching();
}
void TrayApplication::applicationWillTerminate() {
    impl_->willTerminate();
}
void TrayApplication::flash(const std::string& text) {
    impl_->flash(text);
}
void TrayApplication::registerSendHotKey(const std::optional<GlobalHotKey>& hotKey) {
    impl_->registerSendHotKey(hotKey);
}
void TrayApplication::setHotKeyRecording(bool recording) {
    impl_->setHotKeyRecording(recording);
}
void TrayApplication::selectInterfaceLanguage(InterfaceLanguage language) {
    const auto defaults = impl_->services->defaults();
    language.select(
        [&](std::string_view key, const std::string& value) { defaults->set(key, value); },
        [] { InterfaceLanguageSignal::announce(); });
}
void TrayApplication::showAbout() {
    impl_->showAbout();
}
QSystemTrayIcon* TrayApplication::statusItem() const {
    return impl_->statusItem.get();
}
QMenu* TrayApplication::statusMenu() const {
    return impl_->menu.get();
}
RemoteInputController& TrayApplication::phoneConnection() {
    return impl_->controller();
}
SettingsStore& TrayApplication::settings() {
    return impl_->settings();
}
AppCoordinator& TrayApplication::dictation() {
    return impl_->dictation->coordinator();
}

ControlHandlers TrayApplication::controlHandlers() {
    const std::weak_ptr<Impl> weak = impl_;
    auto gone = [] { return ControlHandlers::Outcome(localized("Murrelo is quitting.")); };
    return {
        .sendClipboardToPhone =
            impl_->weakly([](Impl& self) { self.controller().sendClipboardToPhone(); }),
        .phoneConnection =
            [weak] {
                auto self = weak.lock();
                return self && self->reportedOn();
            },
        .setPhoneConnection =
            [weak](bool on, ControlHandlers::StateReply reply) {
                auto self = weak.lock();
                if (!self) return reply(false);
                // The menu's switch: it also undoes a turn-off asked for while starting.
                if (on != headingOn(self->controller().state()))
                    self->controller().toggleFromMenu();
                self->answerOnceSettled(std::move(reply));
            },
        .togglePhoneConnection =
            [weak](ControlHandlers::StateReply reply) {
                auto self = weak.lock();
                if (!self) return reply(false);
                self->controller().toggleFromMenu();
                self->answerOnceSettled(std::move(reply));
            },
        .showPairing =
            [weak](ControlHandlers::LinkReply reply) {
                if (auto self = weak.lock()) return self->showPairing(std::move(reply));
                reply(ControlHandlers::LinkFailure{localized("Murrelo is quitting.")});
            },
        .dictationPress = impl_->dictationControl(&AppCoordinator::pressFromControl),
        .dictationRelease = impl_->dictationControl(&AppCoordinator::releaseFromControl),
        .toggleDictation = impl_->dictationControl(&AppCoordinator::toggleFromControl),
        .openSettings =
            [weak, gone] {
                auto self = weak.lock();
                return self ? self->openSettingsWindow() : gone();
            },
        .showWelcome =
            [weak, gone] {
                auto self = weak.lock();
                if (!self) return gone();
                self->showWelcomeWindow();
                return ControlHandlers::Outcome();
            },
        .quit = [] { QApplication::quit(); },
    };
}

}  // namespace kestrune
