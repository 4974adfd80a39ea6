// The tray application through its real parts, as its Qt-side root makes them, on the test X
// server: the status icon on a stand-in tray host, its menu, Phone Connection turning on, the
// language switch, the feedback over a stand-in notification server, the shortcut, push-to-talk
// over the control interface's answers and the quit order.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "Kestrune/tray/ControlAnswers.hpp"
#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"
#include "app/Root.hpp"
#include "shell/root/ShellRoot.hpp"
#include "shell/tray/LaunchOrder.hpp"
#include "shell/tray/SendShortcut.hpp"
#include "shell/tray/TrayIcon.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/QtEventPump.hpp"
#include "tests/support/TemporaryDirectory.hpp"

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::DesktopStandIn;
using testing::TemporaryDirectory;

// The server's first start makes its certificate with openssl; a loaded machine running
// sanitizers gets ten times what that takes.
constexpr auto kLimit = 90s;

template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = kLimit) {
    return testing::pumpEventsUntil(std::move(done), limit);
}

// The menu as a reader sees it: "-" for a separator, "[x]" for a check, "(disabled)", the
// shortcut after a tab, a submenu's items indented.
std::vector<std::string> describe(const QMenu& menu, const std::string& indent = "") {
    std::vector<std::string> lines;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            lines.push_back(indent + "-");
            continue;
        }
        std::string line =
            indent + (action->isChecked() ? "[x] " : "") + action->text().toStdString();
        if (!action->isEnabled()) line += " (disabled)";
        if (!action->shortcut().isEmpty()) {
            line += "\t" + action->shortcut().toString(QKeySequence::PortableText).toStdString();
        }
        lines.push_back(line);
        if (action->menu()) {
            auto children = describe(*action->menu(), indent + "  ");
            lines.insert(lines.end(), children.begin(), children.end());
        }
    }
    return lines;
}

// The menu as it is about to open (the tray host asks for it just before showing it).
std::vector<std::string> openMenu(TrayIcon& icon) {
    QMenu* menu = icon.statusMenu();
    if (!menu) return {};
    Q_EMIT menu->aboutToShow();
    return describe(*menu);
}

bool grabRefused = false;

// Whether `display` gets the key grab: X refuses a grab another client holds with BadAccess,
// reported asynchronously, so the request is followed by a round trip.
bool grabs(Display* display, KeyCode key, unsigned int modifiers) {
    grabRefused = false;
    const auto previous = XSetErrorHandler([](Display*, XErrorEvent* error) {
        if (error->error_code == BadAccess) grabRefused = true;
        return 0;
    });
    XGrabKey(display, key, modifiers, DefaultRootWindow(display), True, GrabModeAsync,
             GrabModeAsync);
    XSync(display, False);
    XSetErrorHandler(previous);
    return !grabRefused;
}

class TrayApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr ||
            std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP()
                << "needs an X display and a session bus: run under scripts/with-test-services";
        }
        // Each test is its own process: these folders are the only settings and data it sees.
        ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        // A desktop in simplified Chinese: with no language stored, dictation speaks its
        // language, while the stored interface language below keeps the menu in English.
        for (const char* name : {"LC_ALL", "LC_MESSAGES"}) ::unsetenv(name);
        ::setenv("LANG", "zh_CN.UTF-8", 1);
        standIn_ = std::make_unique<DesktopStandIn>(
            folder_.path(), std::vector<std::string>{"watcher", "notifications"});
        ASSERT_TRUE(standIn_->ready()) << standIn_->output();
        app::Root::openSettings(config())->set("interfaceLanguage", std::string("en"));

        static int argc = 1;
        static char name[] = "tray-application-tests";
        static char* argv[] = {name, nullptr};
        application_ = std::make_unique<QApplication>(argc, argv);
        app::Root::Options options;
        options.settingsFolder = config();
        options.phone.directory = folder_ / "data" / "Remote";
        options.phone.advertise = false;
        options.phone.loopbackOnly = true;
        root_ = std::make_unique<ShellRoot>(std::move(options));
        root_->launchOrder().launch();
    }

    void TearDown() override {
        root_.reset();
        application_.reset();
    }

    std::filesystem::path config() const { return folder_ / "config"; }
    TrayIcon& icon() { return root_->trayIcon(); }

    bool isOn() {
        return std::holds_alternative<RemoteInputLifecycle::On>(root_->phoneConnection().state());
    }

    TemporaryDirectory folder_{"tray-application"};
    std::unique_ptr<DesktopStandIn> standIn_;
    std::unique_ptr<QApplication> application_;
    std::unique_ptr<ShellRoot> root_;
};

TEST_F(TrayApplicationTest, IconOnTheTrayHostWithTheMenuOfAnEmptyOutbox) {
    ASSERT_TRUE(standIn_->waitForOutput("item ", kLimit)) << standIn_->output();
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    ASSERT_NE(icon().statusItem(), nullptr);
    EXPECT_TRUE(icon().statusItem()->isVisible());
    EXPECT_FALSE(icon().statusItem()->icon().isNull());
    EXPECT_EQ(icon().statusItem()->toolTip(), "Murrelo");

    const std::vector<std::string> expected = {
        "Send Clipboard to Phone", "-",          "Speech Language",   "  English",
        "  [x] 简体中文",          "  繁體中文", "  日本語",          "  한국어",
        "Phone Connection",        "-",          "Settings…\tCtrl+,", "About Murrelo",
        "Quit Murrelo\tCtrl+Q",
    };
    EXPECT_EQ(openMenu(icon()), expected);

    // Choosing a language from the submenu stores it and rebuilds the menu with its check.
    QMenu* languages = icon().statusMenu()->actions()[2]->menu();
    ASSERT_NE(languages, nullptr);
    languages->actions()[3]->trigger();
    EXPECT_EQ(root_->settings().selectedLanguage().value(), AppLanguage::japanese);
    ASSERT_TRUE(pumpUntil([&] { return openMenu(icon())[6] == "  [x] 日本語"; }, 10s))
        << openMenu(icon())[6];
}

TEST_F(TrayApplicationTest, WaitingItemsWithTheConnectionOffThenOnChangeMenuAndIcon) {
    auto& phone = root_->phoneConnection();
    const auto someone = Uuid::parse("11111111-1111-4111-8111-111111111111").value();
    ASSERT_TRUE(phone.outbox()->enqueue(PushContent::text("first"), {someone}).ok());
    ASSERT_TRUE(phone.outbox()->enqueue(PushContent::text("second"), {someone}).ok());
    auto lines = openMenu(icon());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "2 waiting for your phone — turn on Phone Connection to deliver (disabled)");
    EXPECT_EQ(lines[1], "Send Clipboard to Phone");
    EXPECT_EQ(lines[2], "Clear Waiting Items");
    EXPECT_EQ(lines[3], "-");
    const auto drawn = [&] { return icon().statusItem()->icon().pixmap(22).toImage(); };
    const QImage microphone = drawn();
    EXPECT_FALSE(microphone.isNull());

    phone.turnOn(/*thenPair=*/false);
    ASSERT_TRUE(pumpUntil([&] { return isOn(); })) << "Phone Connection did not come on";
    const auto port = std::get<RemoteInputLifecycle::On>(phone.state()).port;
    lines = openMenu(icon());
    EXPECT_EQ(lines[0], "2 waiting for your phone (disabled)");
    EXPECT_EQ(lines[10], "[x] Phone Connection — port " + std::to_string(port));
    EXPECT_EQ(icon().statusItem()->toolTip(), "Murrelo — Phone Connection is on");
    EXPECT_NE(drawn(), microphone);

    // "Clear Waiting Items" from the menu empties the outbox; the menu loses both lines.
    icon().statusMenu()->actions()[2]->trigger();
    lines = openMenu(icon());
    EXPECT_EQ(lines[0], "Send Clipboard to Phone");
    EXPECT_EQ(lines[1], "-");

    // The switch in the menu turns it off again, and the microphone comes back.
    for (QAction* action : icon().statusMenu()->actions()) {
        if (action->text().startsWith("Phone Connection")) action->trigger();
    }
    ASSERT_TRUE(pumpUntil([&] { return !isOn(); })) << "Phone Connection did not go off";
    EXPECT_EQ(icon().statusItem()->toolTip(), "Murrelo");
    EXPECT_EQ(drawn(), microphone);
}

TEST_F(TrayApplicationTest, LanguageChangeRebuildsTheMenuInSimplifiedChinese) {
    const QMenu* before = icon().statusMenu();
    // As the settings window chooses it: stored, applied and announced.
    const auto& defaults = root_->settings().defaults();
    InterfaceLanguage(InterfaceLanguage::Case::simplifiedChinese)
        .select([&](std::string_view key, const std::string& value) { defaults->set(key, value); },
                [] { InterfaceLanguageSignal::announce(); });
    EXPECT_EQ(defaults->string("interfaceLanguage"), "zh-Hans");
    EXPECT_NE(icon().statusMenu(), before) << "a fresh menu is made for the new language";
    const auto lines = describe(*icon().statusMenu());
    const std::vector<std::string> expected = {
        "将剪贴板发送到手机",
        "-",
        localized("Speech Language"),
        "  English",
        "  [x] 简体中文",
        "  繁體中文",
        "  日本語",
        "  한국어",
        localized("Phone Connection"),
        "-",
        localized("Settings…") + "\tCtrl+,",
        localized("About Murrelo"),
        localized("Quit Murrelo") + "\tCtrl+Q",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_NE(lines[8], "Phone Connection");
}

TEST_F(TrayApplicationTest, ASecondFlashReplacesTheFirstAndIsTakenAwayItself) {
    icon().flash("Sent to your phone");
    ASSERT_TRUE(pumpUntil([&] { return !standIn_->lines("notify").empty(); }, 30s));
    EXPECT_EQ(icon().statusItem()->toolTip(), "Sent to your phone");
    // The second text comes a second later, so the first one's expiry falls while it shows.
    testing::pumpEventsFor(1s);
    icon().flash("Nothing to send");
    EXPECT_EQ(icon().statusItem()->toolTip(), "Nothing to send");
    ASSERT_TRUE(pumpUntil([&] { return !standIn_->lines("close").empty(); }, 60s))
        << standIn_->output();

    const auto notes = standIn_->lines("notify");
    ASSERT_EQ(notes.size(), 2u) << standIn_->output();
    // notify ID REPLACES EXPIRE APP|SUMMARY: the second replaces the first, both for 4 s.
    EXPECT_EQ(notes[0].second, "notify 1 0 4000 Murrelo|Sent to your phone");
    EXPECT_EQ(notes[1].second, "notify 1 1 4000 Murrelo|Nothing to send");
    const auto closes = standIn_->lines("close");
    ASSERT_EQ(closes.size(), 1u) << "the first text's expiry closes nothing";
    EXPECT_EQ(closes[0].second, "close 1");
    EXPECT_EQ(icon().statusItem()->toolTip(), "Murrelo");
}

TEST_F(TrayApplicationTest, AShortcutHeldByAnotherApplicationIsReported) {
    // Another client grabs Ctrl+Alt+K first (K is X keycode 45 on the test server's keymap).
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    const unsigned int ctrlAlt = ControlMask | Mod1Mask;
    for (unsigned int lock :
         {0u, static_cast<unsigned int>(LockMask), static_cast<unsigned int>(Mod2Mask),
          static_cast<unsigned int>(LockMask | Mod2Mask)}) {
        XGrabKey(other, XKeysymToKeycode(other, XK_k), ctrlAlt | lock, DefaultRootWindow(other),
                 True, GrabModeAsync, GrabModeAsync);
    }
    XSync(other, False);

    root_->settings().setSendToPhoneHotKey(
        GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::option));
    ASSERT_TRUE(pumpUntil([&] { return !standIn_->lines("notify").empty(); }, 30s))
        << standIn_->output();
    EXPECT_EQ(standIn_->lines("notify")[0].second,
              "notify 1 0 4000 Murrelo|Couldn’t register this shortcut.");
    // The stored setting stays, and the menu shows the shortcut beside its item.
    EXPECT_TRUE(root_->settings().sendToPhoneHotKey().value().has_value());
    EXPECT_EQ(openMenu(icon())[0], "Send Clipboard to Phone\tCtrl+Alt+K");
    XCloseDisplay(other);
}

TEST_F(TrayApplicationTest, ShortcutSendsTheClipboardAndIsLetGoWhileARecordingRuns) {
    const QMenu* before = icon().statusMenu();
    root_->settings().setSendToPhoneHotKey(
        GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::option));
    // A new shortcut is registered on the main queue, then the menu is made afresh.
    ASSERT_TRUE(pumpUntil([&] { return icon().statusMenu() != before; }, 30s));
    EXPECT_EQ(openMenu(icon())[0], "Send Clipboard to Phone\tCtrl+Alt+K");

    // Ctrl+Alt+K pressed as a user would: the clipboard goes to Phone Connection, which says
    // that the (test session's) clipboard is empty.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    const KeyCode control = XKeysymToKeycode(other, XK_Control_L);
    const KeyCode alt = XKeysymToKeycode(other, XK_Alt_L);
    const KeyCode k = XKeysymToKeycode(other, XK_k);
    for (KeyCode key : {control, alt, k}) XTestFakeKeyEvent(other, key, True, CurrentTime);
    for (KeyCode key : {k, alt, control}) XTestFakeKeyEvent(other, key, False, CurrentTime);
    XSync(other, False);
    ASSERT_TRUE(pumpUntil([&] { return !standIn_->lines("notify").empty(); }, 30s))
        << standIn_->output();
    EXPECT_EQ(standIn_->lines("notify")[0].second,
              "notify 1 0 4000 Murrelo|The clipboard is empty");

    // While the settings window records a shortcut, ours is let go: another client can take it,
    // and taking ours back afterwards fails and says so.
    root_->sendShortcut().setRecording(true);
    ASSERT_TRUE(pumpUntil([&] { return grabs(other, k, ControlMask | Mod1Mask); }, 30s))
        << "the shortcut was not let go";
    root_->sendShortcut().setRecording(false);
    ASSERT_TRUE(pumpUntil([&] { return standIn_->lines("notify").size() == 2; }, 30s))
        << standIn_->output();
    EXPECT_EQ(standIn_->lines("notify")[1].second,
              "notify 1 1 4000 Murrelo|Couldn’t register this shortcut.");
    XCloseDisplay(other);
}

// A window manager's key binding drives push-to-talk over the control interface: the press
// starts a recording from the test audio server (silence), the release ends it with nothing typed.
TEST_F(TrayApplicationTest, ControlPressAndReleaseRecordLikeTheTriggerKey) {
    root_->settings().setSelectedLanguage(AppLanguage::english);
    auto& control = root_->controlAnswers();
    const auto phase = [&] { return root_->dictation().state().value(); };
    ASSERT_EQ(phase(), AppCoordinator::State::idle);
    control.dictationPress();
    ASSERT_TRUE(pumpUntil([&] { return phase() == AppCoordinator::State::recording; }))
        << "the recording did not start";
    control.dictationRelease();
    ASSERT_TRUE(pumpUntil([&] { return phase() == AppCoordinator::State::idle; }))
        << "the recording did not end";

    // Toggle twice: the same recording from one key.
    control.toggleDictation();
    ASSERT_TRUE(pumpUntil([&] { return phase() == AppCoordinator::State::recording; }));
    control.toggleDictation();
    ASSERT_TRUE(pumpUntil([&] { return phase() == AppCoordinator::State::idle; }));
}

TEST_F(TrayApplicationTest, QuitStopsTheConnectionButKeepsTheIntentForTheNextLaunch) {
    root_->phoneConnection().turnOn(/*thenPair=*/false);
    ASSERT_TRUE(pumpUntil([&] { return isOn(); })) << "Phone Connection did not come on";
    root_->launchOrder().quit();
    ASSERT_TRUE(pumpUntil([&] { return !isOn(); })) << "the server did not stop";
    EXPECT_EQ(root_->settings().defaults()->boolean(RemoteInputController::kEnabledKey), true);
}

}  // namespace
}  // namespace kestrune
