#include "shell/root/ShellRoot.hpp"

#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "Kestrune/tray/ControlAnswers.hpp"
#include "Kestrune/tray/PhoneWindowReports.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "platform/linux/autostart/XdgAutostart.hpp"
#include "platform/linux/qt/ComputerName.hpp"
#include "platform/linux/qt/DesktopNotifier.hpp"
#include "platform/linux/qt/NonModalPrompt.hpp"
#include "platform/linux/qt/QtMainQueue.hpp"
#include "platform/linux/x11/HotKeyService.hpp"
#include "shell/hud/HUDPanelController.hpp"
#include "shell/pairing/PairingWindowController.hpp"
#include "shell/root/QtDesktop.hpp"
#include "shell/tray/LaunchOrder.hpp"
#include "shell/tray/SendShortcut.hpp"
#include "shell/tray/TrayIcon.hpp"
#include "shell/tray/TrayWindows.hpp"

namespace kestrune {

namespace {

// The notification server's "never expires".
constexpr std::chrono::milliseconds kStoreProblemsStayOnScreen{0};

// The pairing window that also reports which link it shows, for whoever asked for it over the
// control interface.
class ReportingPairingWindow final : public PairingWindow {
  public:
    explicit ReportingPairingWindow(tray::PhoneWindowReports& reports) : reports_(reports) {}
    void present(const std::string& address) override { window_.present(address); }
    void showLink(const std::string& link) override {
        window_.showLink(link);
        // A link that cannot be drawn leaves the code as it was: nothing new is on screen.
        if (window_.shownLink() == link) reports_.linkShown(link);
    }
    void close() override { window_.close(); }
    bool isVisible() const override { return window_.isVisible(); }
    Subscription observeClose(std::function<void()> observer) override {
        return window_.observeClose(std::move(observer));
    }

  private:
    PairingWindowController window_;
    tray::PhoneWindowReports& reports_;
};

// Phone Connection's windows on Qt; its alerts are reported too, since a pairing request waits
// for a link that then never comes.
app::PhoneConnectionWindows phoneWindows(tray::PhoneWindowReports& reports,
                                         const ComputerName& computer) {
    return {
        .presentAlert =
            [&reports](const std::string& title, const std::string& message) {
                reports.alertShown(title + " " + message);
                presentQtAlert(title, message);
            },
        .showApproval = qtApprovalPrompts(),
        .makePairingWindow = [&reports]() -> std::unique_ptr<PairingWindow> {
            return std::make_unique<ReportingPairingWindow>(reports);
        },
        .observeLanguageChange =
            [](std::function<void()> observer) {
                return InterfaceLanguageSignal::observe(std::move(observer));
            },
        .computerName = [&computer] { return computer.current(); },
    };
}

}  // namespace

struct ShellRoot::Impl {
    explicit Impl(app::Root::Options options)
        : core(main, std::move(options), {phoneWindows(phoneWindowReports, computerName), panel}),
          platform(core.shellPlatform()),
          hotKeys(main),
          desktop(platform.fileManager) {
        notifier = std::make_unique<DesktopNotifier>(DesktopNotifier::Options{
            std::string(TrayIcon::kDisplayName), "audio-input-microphone",
            // No notification service: the tray's own balloon or message.
            lifetime.guard([this](const std::string& text) { icon->showMessage(text); })});
        windows = std::make_unique<TrayWindows>(TrayWindows::Dependencies{
            .settingsWindow = {.main = main,
                               .settings = platform.settings,
                               .phone = core.phoneConnection(),
                               .refiner = platform.refiner,
                               .http = platform.http,
                               .desktop = desktop,
                               .compositorBindings = platform.compositorBindings},
            .dictation = core.dictation(),
            .loginItem = xdg_autostart::makeLoginItem(xdg_autostart::currentLocations()),
            .isTrusted = platform.isAccessibilityTrusted,
            .speechHint = platform.speechHint,
            .onHotKeyRecording =
                lifetime.guard([this](bool recording) { shortcut->setRecording(recording); }),
        });
        icon = std::make_unique<TrayIcon>(TrayIcon::Dependencies{
            .main = main,
            .phone = core.phoneConnection(),
            .settings = platform.settings,
            .notifier = *notifier,
            .windows = *windows,
        });
        shortcut = std::make_unique<SendShortcut>(SendShortcut::Dependencies{
            .main = main,
            .settings = platform.settings,
            .service = hotKeys,
            .phone = core.phoneConnection(),
            .icon = *icon,
        });
        answers = std::make_unique<tray::ControlAnswers>(tray::ControlAnswers::Dependencies{
            .main = main,
            .phone = core.phoneConnection(),
            .defaults = platform.settings.defaults(),
            .phoneWindows = phoneWindowReports,
            .dictation = core.dictation(),
            .windows = *windows,
        });
        showStoreProblems();
        launchOrder = std::make_unique<LaunchOrder>(LaunchOrder::Dependencies{
            .settings = platform.settings,
            .icon = *icon,
            .shortcut = *shortcut,
            .dictation = core.dictation(),
            .phone = core.phoneConnection(),
            .answers = *answers,
            .windows = *windows,
        });
    }

    // Stored files that could not be read or written stay on screen until the user closes the
    // notice (they say where the user's data went); each new one is added to the same notice, so
    // one does not hide another, and those of one moment (the start) come as one. Their own
    // notifier, so the tray's brief feedback never replaces them.
    void showStoreProblems() {
        problemNotifier = std::make_unique<DesktopNotifier>(DesktopNotifier::Options{
            std::string(TrayIcon::kDisplayName), "dialog-warning",
            lifetime.guard([this](const std::string& text) { icon->showMessage(text); })});
        storeProblems = core.storeProblems().observe([this](const StoreProblem& problem) {
            const bool first = problemText.size() == shownProblemText;
            problemText += (problemText.empty() ? "" : "\n") + problem.message;
            if (!first) return;
            main.post(lifetime.guard([this] {
                shownProblemText = problemText.size();
                problemNotifier->show(problemText, kStoreProblemsStayOnScreen);
            }));
        });
    }

    // The tray's parts go in the reverse order of their making; the windows before the shortcut
    // they may still let go of, everything before the services it uses.
    ~Impl() {
        launchOrder.reset();
        answers.reset();
        windows.reset();
        shortcut.reset();
        storeProblems.reset();
        problemNotifier.reset();
        icon.reset();
        notifier.reset();
    }

    QtMainQueue main;
    // They outlive the Qt-free root, whose Phone Connection reports to the first and names the
    // computer with the last, and whose dictation draws on the panel.
    tray::PhoneWindowReports phoneWindowReports;
    HUDPanelController panel;
    ComputerName computerName;
    app::Root core;
    app::ShellPlatform platform;
    x11::HotKeyService hotKeys;
    QtDesktop desktop;
    std::unique_ptr<DesktopNotifier> notifier;
    std::unique_ptr<DesktopNotifier> problemNotifier;
    std::string problemText;
    // How much of it is on screen; less while a notice is about to be shown.
    std::size_t shownProblemText = 0;
    Subscription storeProblems;
    std::unique_ptr<TrayWindows> windows;
    std::unique_ptr<TrayIcon> icon;
    std::unique_ptr<SendShortcut> shortcut;
    std::unique_ptr<tray::ControlAnswers> answers;
    std::unique_ptr<LaunchOrder> launchOrder;
    Lifetime lifetime;
};

ShellRoot::ShellRoot(app::Root::Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

ShellRoot::~ShellRoot() = default;

LaunchOrder& ShellRoot::launchOrder() {
    return *impl_->launchOrder;
}
tray::ControlAnswers& ShellRoot::controlAnswers() {
    return *impl_->answers;
}
TrayIcon& ShellRoot::trayIcon() {
    return *impl_->icon;
}
SendShortcut& ShellRoot::sendShortcut() {
    return *impl_->shortcut;
}
RemoteInputController& ShellRoot::phoneConnection() {
    return impl_->core.phoneConnection();
}
SettingsStore& ShellRoot::settings() {
    return impl_->platform.settings;
}
AppCoordinator& ShellRoot::dictation() {
    return impl_->core.dictation();
}

}  // namespace kestrune
