// The program `murrelo`: the tray application, its self-check and its command-line control.
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/tray/ControlCommand.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/L10n/L10nCheck.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "app/CompositorBindingLines.hpp"
#include "app/DesktopProbe.hpp"
#include "app/Root.hpp"
#include "platform/linux/x11/X11Typist.hpp"
#include "shell/root/ShellRoot.hpp"
#include "shell/tray/ControlClient.hpp"
#include "shell/tray/ControlService.hpp"
#include "shell/tray/LaunchOrder.hpp"
#include "shell/tray/TrayIcon.hpp"

namespace {

using namespace kestrune;

constexpr std::string_view kLogCategory = "murrelo";
// The program's identifier, which its desktop file is named after (and its bus name).
constexpr std::string_view kIdentifier = "zz.holvanis.murrelo";

std::string usage() {
    return "usage: murrelo [--help | --version | --l10n-check]\n"
           "       murrelo ctl COMMAND\n"
           "\n"
           "Without arguments, starts Murrelo in the system tray (a second start opens the\n"
           "settings of the one already running).\n"
           "\n"
           "  --l10n-check  prints which string tables the interface language chooses\n"
           "  --version     prints the version, and what serves typing, the clipboard and\n"
           "                the trigger key in this session\n"
           "  ctl COMMAND   asks the running Murrelo to act; COMMAND is one of\n"
           "                  send-clipboard\n"
           "                  phone on|off|toggle|pair|status   (pair prints the pairing link)\n"
           "                  dictation press|release|toggle\n"
           "                  settings | welcome | quit\n"
           "                  bindings   (prints the key bindings a Wayland compositor such as\n"
           "                             sway needs for push-to-talk and Send to Phone)\n";
}

std::string noDisplaySentence() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        return localized(
            "Murrelo shows its windows through XWayland, and this Wayland session offers no X "
            "display.");
    }
    return localized(
        "Murrelo needs an X display to run, and none could be opened (is DISPLAY set?).");
}

// SIGTERM (the session ending) and SIGINT quit like the menu's Quit, so the quit order runs: the
// handler only writes a byte, which the event loop reads.
int quitSignalSocket[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(quitSignalSocket[0], &byte, 1);
}

void quitOnSignals(QApplication& application) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitSignalSocket) != 0) return;
    auto* notifier = new QSocketNotifier(quitSignalSocket[1], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(quitSignalSocket[1], &byte, 1);
        QApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

int runApplication(int argc, char** argv) {
    // The windows go through X11 (under Wayland, XWayland): the recording panel must be an
    // override-redirect window, which no compositor lets a Wayland client make, and Qt would
    // otherwise abort with its own message.
    if (!x11::displayAvailable()) {
        std::cerr << noDisplaySentence() << "\n";
        return 1;
    }
    // Qt on X11 even inside a Wayland session with XWayland: a Wayland-native panel would be
    // tiled and given the focus by the compositor, and prompts would lose their placement.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("murrelo"));
    QApplication::setApplicationDisplayName(QString::fromUtf8(TrayIcon::kDisplayName.data()));
    QApplication::setApplicationVersion(QStringLiteral(MURRELO_VERSION));
    QApplication::setDesktopFileName(QString::fromUtf8(kIdentifier.data()));
    // A tray application: closing its last window leaves it running.
    QApplication::setQuitOnLastWindowClosed(false);

    auto bus = QDBusConnection::sessionBus();
    const auto name = QString::fromUtf8(tray::control::kBusName.data());
    if (bus.isConnected() && bus.interface()->isServiceRegistered(name).value()) {
        // Already running: that instance shows its settings, and this start is done.
        return askRunningInstanceToOpenSettings() ? 0 : 1;
    }

    ShellRoot root({});
    ControlService control(root.controlAnswers());
    switch (control.claim(bus)) {
        case ControlService::Claim::owned:
            break;
        case ControlService::Claim::alreadyRunning:
            // Another start won the race for the name.
            return askRunningInstanceToOpenSettings() ? 0 : 1;
        case ControlService::Claim::noBus:
            log(LogLevel::warning, kLogCategory,
                "no session bus: running without single-instance control and `murrelo ctl`");
            break;
    }
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&root] { root.launchOrder().quit(); });
    quitOnSignals(application);
    root.launchOrder().launch();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        log(LogLevel::warning, kLogCategory,
            "no system tray in this session: the icon appears once a tray starts");
    }
    return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (std::find(arguments.begin(), arguments.end(), "--l10n-check") != arguments.end()) {
        // Reads the stored choice and prints; writes nothing, migrates nothing, shows nothing.
        const auto defaults = app::Root::openSettings({});
        std::cout << l10nCheckReport(
            InterfaceLanguage::stored([&](std::string_view key) { return defaults->string(key); }));
        return 0;
    }
    if (arguments.size() == 2 && arguments[0] == "ctl" && arguments[1] == "bindings") {
        // Read from the stored settings, like --l10n-check: no running instance is needed to
        // write a compositor's configuration before the first start.
        const auto lines = app::compositorBindingLines(
            *app::Root::openSettings({}), std::filesystem::read_symlink("/proc/self/exe").string());
        if (!lines) {
            std::cerr << lines.error().sentence << "\n";
            return 1;
        }
        std::cout << *lines;
        return 0;
    }
    if (!arguments.empty() && arguments[0] == "ctl") {
        // The command's output is its answer and its own sentences; Qt's diagnostics about the
        // bus traffic it sees would only garble that for scripts.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::cerr << text.toStdString() << "\n";
        });
        QCoreApplication application(argc, argv);
        return runControlCommand({arguments.begin() + 1, arguments.end()});
    }
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << usage();
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        const auto session = app::probeDesktopSession();
        std::cout << "murrelo " << MURRELO_VERSION << "\n"
                  << describe(session, DesktopServices::choose(session));
        return 0;
    }
    if (!arguments.empty()) {
        std::cerr << usage();
        return 2;
    }
    return runApplication(argc, argv);
}
