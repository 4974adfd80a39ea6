// The welcome window on the test X server: when it shows at launch, what closing it records,
// dictation landing in its box, the keyboard alone, the typing check and its remedy, and its QR
// code read back from the screen. With MURRELO_SCREENSHOT_DIR set, its pictures in English and in
// Simplified Chinese are saved there.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/LegacyMigration.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "shell/common/TriggerKeyPicker.hpp"
#include "shell/welcome/WelcomeView.hpp"
#include "shell/welcome/WelcomeWindowController.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/QtEventPump.hpp"
#include "tests/support/QtTestApplication.hpp"
#include "tests/support/TemporaryDirectory.hpp"

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::TemporaryDirectory;

// Window-system round trips on a loaded machine running sanitizers: far more than they take.
constexpr auto kLimit = 20s;

template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = kLimit) {
    return testing::pumpEventsUntil(std::move(done), limit);
}

// A key press and release from the keyboard, as a person would type it.
void pressKey(KeySym symbol) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const KeyCode code = XKeysymToKeycode(display, symbol);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
}

// Without a window manager nobody hands the keyboard to a new window; one would.
void giveFocus(QWidget* window) {
    ASSERT_TRUE(pumpUntil([window] { return window->isVisible(); }));
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    // The X server hands the focus only to a window it shows.
    pumpUntil([&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display, static_cast<Window>(window->winId()), &attributes) &&
               attributes.map_state == IsViewable;
    });
    XSetInputFocus(display, static_cast<Window>(window->winId()), RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    ASSERT_TRUE(pumpUntil([window] { return QApplication::activeWindow() == window; }));
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(widget);
    return interface ? interface->text(QAccessible::Name) : QString();
}

class WelcomeWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        testing::widgetsApplication();
        L10n::shared().setLanguageOverride("en");
    }
    void TearDown() override {
        controller.reset();
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    std::shared_ptr<UserDefaults> openDefaults() {
        return std::make_shared<UserDefaults>(config.path(),
                                              std::string(UserDefaults::kStandardDomain));
    }

    void makeController() {
        settings =
            std::make_unique<SettingsStore>(defaults, std::make_shared<InMemoryLLMKeyStore>(),
                                            std::make_shared<InMemoryLLMKeyStore>(), queue);
        controller =
            std::make_unique<WelcomeWindowController>(WelcomeWindowController::Dependencies{
                .settings = *settings,
                .isTrusted = [this] { return trusted.load(); },
                .isWaylandOnly = [this] { return waylandOnly.load(); },
                .setFinalTextOverride =
                    [this](WelcomeWindowController::FinalTextReceiver receiver) {
                        finalTextOverride = std::move(receiver);
                        ++overrideChanges;
                    },
                // As the coordinator does: it stores the key the window hands it.
                .onTriggerKeyChange =
                    [this](TriggerKey key) {
                        coordinatorKeys.push_back(key);
                        settings->setTriggerKey(key);
                    },
                .speechHint = [this](AppLanguage language) -> std::optional<std::string> {
                    if (language == AppLanguage::english) return std::nullopt;
                    return "No recognizer for " + std::string(rawValue(language));
                },
                .openSettings = [this] { ++settingsOpened; },
                .onClose =
                    [this] {
                        ++closes;
                        // What the application does: the next showing makes a new one.
                        if (dropOnClose) controller.reset();
                    },
            });
    }

    WelcomeView& view() { return *controller->view(); }

    // Saves the window's picture for the documentation, when asked to, and scans its code. The
    // picture is the window painted: the same twice in a row, with a code that reads.
    std::string screenshotAndScan(const std::string& name) {
        const auto shot = (config / name).string();
        const std::string window = std::to_string(controller->window()->winId());
        int imported = -1;
        QImage previous;
        std::string text;
        pumpUntil([&] {
            imported = std::system(("import -window " + window + " " + shot).c_str());
            QImage picture(QString::fromStdString(shot));
            const bool resting = imported == 0 && !picture.isNull() && picture == previous;
            previous = std::move(picture);
            if (!resting) return false;
            text = testing::commandOutput("zbarimg --raw -q " + shot);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            return !text.empty();
        });
        EXPECT_EQ(imported, 0);
        if (const char* docs = std::getenv("MURRELO_SCREENSHOT_DIR")) {
            std::system(("cp " + shot + " " + docs + "/" + name).c_str());
        }
        return text;
    }

    TemporaryDirectory config{"murrelo-welcome"};
    std::shared_ptr<UserDefaults> defaults = openDefaults();
    ManualMainQueue queue;
    std::unique_ptr<SettingsStore> settings;
    std::atomic<bool> trusted{true};
    std::atomic<bool> waylandOnly{false};
    WelcomeWindowController::FinalTextReceiver finalTextOverride;
    int overrideChanges = 0;
    std::vector<TriggerKey> coordinatorKeys;
    int closes = 0;
    int settingsOpened = 0;
    bool dropOnClose = false;
    std::unique_ptr<WelcomeWindowController> controller;
};

TEST_F(WelcomeWindow, AFreshConfigurationShowsItOnceAndEscapeClosesItForGood) {
    EXPECT_TRUE(WelcomeWindowController::shouldShowAtLaunch(*defaults));
    makeController();
    EXPECT_TRUE(WelcomeWindowController::shouldShowAtLaunch(*settings));
    controller->show();
    giveFocus(controller->window());
    EXPECT_EQ(controller->window()->width(), WelcomeView::kWidth);
    EXPECT_EQ(controller->window()->windowTitle(), "Welcome to Murrelo");

    dropOnClose = true;
    pressKey(XK_Escape);
    ASSERT_TRUE(pumpUntil([&] { return closes == 1 && controller == nullptr; }));
    EXPECT_FALSE(finalTextOverride);
    EXPECT_EQ(defaults->boolean("welcomeShown"), true);
    // The next start reads the file again: the window does not come back by itself.
    EXPECT_FALSE(WelcomeWindowController::shouldShowAtLaunch(*openDefaults()));
    // The welcome window wrote nothing else: no key was chosen.
    EXPECT_FALSE(openDefaults()->object("triggerKey").has_value());
}

TEST_F(WelcomeWindow, NotShownAfterTheEarlierEditionsSettingsWereImported) {
    ASSERT_TRUE(writeFileAtomically(config / "zz.pellam.kestrune.json",
                                    R"({"remoteInputEnabled": true, "interfaceLanguage": "en"})"));
    LegacyMigration migration;
    migration.oldDefaults =
        std::make_shared<UserDefaults>(config.path(), std::string(LegacyMigration::kOldDomainName));
    migration.oldDomainName = std::string(LegacyMigration::kOldDomainName);
    migration.newDefaults = defaults;
    migration.oldDirectory = config / "Kestrune";
    migration.newDirectory = config / "Murrelo";
    migration.fileManager = LegacyMigration::FileManager::live();
    migration.keyStore = std::make_shared<InMemoryLLMKeyStore>();
    ASSERT_TRUE(migration.runIfNeeded());
    EXPECT_FALSE(defaults->boolean("welcomeShown").value_or(false));
    EXPECT_FALSE(WelcomeWindowController::shouldShowAtLaunch(*defaults));
    EXPECT_FALSE(WelcomeWindowController::shouldShowAtLaunch(*openDefaults()));
}

TEST_F(WelcomeWindow, ADictationWhileItIsOpenLandsInItsBoxUntilItCloses) {
    makeController();
    EXPECT_FALSE(finalTextOverride);
    controller->show();
    ASSERT_TRUE(finalTextOverride) << "showing hands the coordinator a receiver of final texts";
    EXPECT_EQ(view().transcriptLabel()->text(), "Your words will appear here.");

    finalTextOverride("hello from the welcome window");
    EXPECT_EQ(view().transcriptLabel()->text(), "hello from the welcome window");
    EXPECT_EQ(controller->model().lastTranscript().value(), "hello from the welcome window");

    // Showing again while open keeps the one receiver; closing gives dictation back.
    controller->show();
    EXPECT_EQ(overrideChanges, 1);
    view().doneButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return !controller->isVisible(); }));
    EXPECT_FALSE(finalTextOverride) << "closing clears the coordinator's override";
    EXPECT_EQ(overrideChanges, 2);
    EXPECT_EQ(controller->model().lastTranscript().value(), std::nullopt);

    controller->show();
    EXPECT_EQ(view().transcriptLabel()->text(), "Your words will appear here.");
    ASSERT_TRUE(finalTextOverride);

    // Dropped while open (the application quitting): dictation must not call into a window that
    // is gone.
    controller.reset();
    EXPECT_FALSE(finalTextOverride);
}

TEST_F(WelcomeWindow, TheKeyboardAloneReachesEveryNamedControlInReadingOrder) {
    makeController();
    controller->show();
    giveFocus(controller->window());
    WelcomeView& content = view();
    ASSERT_TRUE(pumpUntil([&] { return QApplication::focusWidget() == content.picker(); }));

    // Tab follows the reading order and comes round again.
    const std::vector<QWidget*> order = {content.languagePicker(), content.doneButton(),
                                         content.checkAgainButton(), content.picker()};
    for (QWidget* expected : order) {
        pressKey(XK_Tab);
        EXPECT_TRUE(pumpUntil([&] { return QApplication::focusWidget() == expected; }, 5s))
            << "focus on " << QApplication::focusWidget()->metaObject()->className()
            << ", expected " << expected->metaObject()->className();
    }
    for (QWidget* widget : controller->window()->findChildren<QWidget*>()) {
        if (widget->focusPolicy() == Qt::NoFocus || !widget->isVisible()) continue;
        EXPECT_FALSE(accessibleName(widget).isEmpty()) << widget->metaObject()->className();
    }
    // A combo box's name on this platform is its value; screen readers announce the label it
    // is labelled by.
    QAccessibleInterface* picker = QAccessible::queryAccessibleInterface(content.picker());
    ASSERT_NE(picker, nullptr);
    const auto labels = picker->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front().first->text(QAccessible::Name), "Push-to-Talk Key");
    EXPECT_EQ(accessibleName(content.codeLabel()), "QR code of the Murrelo website");

    // Down on the picker chooses the next key, handed to the coordinator only; the picker shows
    // what the coordinator stored.
    const TriggerKey before = settings->triggerKey().value();
    pressKey(XK_Down);
    ASSERT_TRUE(pumpUntil([&] { return !coordinatorKeys.empty(); }));
    EXPECT_NE(coordinatorKeys.front(), before);
    EXPECT_EQ(coordinatorKeys.size(), 1u);
    EXPECT_EQ(content.picker()->currentKey(), coordinatorKeys.front());
    EXPECT_EQ(openDefaults()->string("triggerKey"), coordinatorKeys.front().persistedValue());

    // Space on "Done" closes it.
    pressKey(XK_Tab);
    pressKey(XK_Tab);
    ASSERT_TRUE(pumpUntil([&] { return QApplication::focusWidget() == content.doneButton(); }));
    pressKey(XK_space);
    ASSERT_TRUE(pumpUntil([&] { return !controller->isVisible(); }));
    EXPECT_EQ(defaults->boolean("welcomeShown"), true);
}

// What a screen reader finds through AT-SPI, asked from another process while this one answers.
TEST_F(WelcomeWindow, AScreenReaderFindsEveryControlByName) {
    makeController();
    controller->show();
    giveFocus(controller->window());
    std::atomic<bool> listed{false};
    std::string listing;
    std::thread reader([&] {
        listing = testing::commandOutput("/usr/bin/python3 " MURRELO_SOURCE_DIR
                                         "/tests/shell/welcome/list_accessibles.py "
                                         "murrelo-window-tests 2>&1");
        listed = true;
    });
    const bool finished = pumpUntil([&] { return listed.load(); }, 60s);
    reader.join();
    ASSERT_TRUE(finished);
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> byRole;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        const auto secondTab = line.find('\t', tab + 1);
        if (tab == std::string::npos || secondTab == std::string::npos) continue;
        byRole[line.substr(0, tab)].emplace_back(line.substr(tab + 1, secondTab - tab - 1),
                                                 line.substr(secondTab + 1));
    }
    ASSERT_FALSE(byRole.empty()) << listing;
    const auto& buttons = byRole["push button"];
    for (const char* name : {"Check Again", "Done"}) {
        EXPECT_NE(std::find_if(buttons.begin(), buttons.end(),
                               [&](const auto& button) { return button.first == name; }),
                  buttons.end())
            << name << " in:\n"
            << listing;
    }
    for (const auto& [name, labels] : buttons) EXPECT_FALSE(name.empty()) << listing;
    // The dictation box is read out with what it shows.
    const auto& labels = byRole["label"];
    EXPECT_NE(std::find_if(
                  labels.begin(), labels.end(),
                  [](const auto& label) { return label.first == "Your words will appear here."; }),
              labels.end())
        << listing;
    std::vector<std::string> comboLabels;
    for (const auto& combo : byRole["combo box"]) comboLabels.push_back(combo.second);
    EXPECT_EQ(comboLabels, (std::vector<std::string>{"Push-to-Talk Key", "Speech Language"}))
        << listing;
    const auto& images = byRole["image"];
    EXPECT_NE(std::find_if(images.begin(), images.end(),
                           [](const auto& label) {
                               return label.first == "QR code of the Murrelo website";
                           }),
              images.end())
        << listing;
}

TEST_F(WelcomeWindow, TypingIsCheckedEverySecondAndCheckAgainExplainsAWaylandSession) {
    trusted = false;
    waylandOnly = true;
    makeController();
    controller->show();
    EXPECT_EQ(accessibleName(view().statusLabel()), "Not allowed yet");
    EXPECT_FALSE(view().remedyLabel()->isVisible());
    const QRect before = controller->window()->geometry();

    view().checkAgainButton()->click();
    EXPECT_TRUE(view().remedyLabel()->isVisible());
    EXPECT_NE(view().remedyLabel()->text().indexOf("Wayland"), -1);
    // The window grows to fit the explanation, its top edge where it was.
    const QRect after = controller->window()->geometry();
    EXPECT_GT(after.height(), before.height());
    EXPECT_EQ(after.top(), before.top());
    EXPECT_EQ(after.width(), WelcomeView::kWidth);

    // The session changes (e.g. XWayland came up): the next poll notices without a click.
    trusted = true;
    ASSERT_TRUE(pumpUntil([&] { return accessibleName(view().statusLabel()) == "Allowed"; }));
    EXPECT_FALSE(view().remedyLabel()->isVisible());
}

// Before a first try, the step says when no recognizer serves the chosen language; picking
// another language stores it and the step follows.
TEST_F(WelcomeWindow, TheSpeechLanguageIsChosenHereAndAnUnservedOneSaysWhatToDo) {
    makeController();
    settings->setSelectedLanguage(AppLanguage::japanese);
    controller->show();
    QComboBox* languages = view().languagePicker();
    EXPECT_EQ(languages->currentText(), "日本語");
    EXPECT_EQ(languages->accessibleName(), "Speech Language");
    ASSERT_TRUE(view().speechHintLabel()->isVisible());
    EXPECT_EQ(view().speechHintLabel()->text(), "No recognizer for ja-JP");
    // With the way to where a recognizer is set up.
    ASSERT_TRUE(view().openSettingsButton()->isVisible());
    EXPECT_EQ(accessibleName(view().openSettingsButton()), "Open Settings…");
    view().openSettingsButton()->click();
    EXPECT_EQ(settingsOpened, 1);
    const int withHint = controller->window()->height();

    languages->setCurrentIndex(languages->findText("English"));
    Q_EMIT languages->activated(languages->currentIndex());
    EXPECT_EQ(settings->selectedLanguage().value(), AppLanguage::english);
    EXPECT_EQ(openDefaults()->string("selectedLanguage"), "en-US");
    EXPECT_FALSE(view().speechHintLabel()->isVisible());
    EXPECT_FALSE(view().openSettingsButton()->isVisible());
    EXPECT_LT(controller->window()->height(), withHint);

    // A choice made elsewhere (the tray's menu) shows here too.
    settings->setSelectedLanguage(AppLanguage::korean);
    EXPECT_EQ(languages->currentText(), "한국어");
    EXPECT_EQ(view().speechHintLabel()->text(), "No recognizer for ko-KR");
}

TEST_F(WelcomeWindow, ItsCodeScansToTheProductPageInEachLanguage) {
    makeController();
    settings->setSelectedLanguage(AppLanguage::english);
    controller->show();
    EXPECT_EQ(screenshotAndScan("welcome-window.png"), WelcomeModel::kProductPageURL);
    EXPECT_EQ(view().codeLabel()->pixmap().deviceIndependentSize().toSize(),
              QSize(WelcomeView::kCodeSide, WelcomeView::kCodeSide));

    // The window follows the interface language by itself, as the settings window announces it.
    L10n::shared().setLanguageOverride("zh-Hans");
    InterfaceLanguageSignal::announce();
    EXPECT_EQ(controller->window()->windowTitle().toStdString(), localized("Welcome to Murrelo"));
    EXPECT_NE(controller->window()->windowTitle(), "Welcome to Murrelo");
    EXPECT_EQ(view().doneButton()->text().toStdString(), "完成");
    EXPECT_EQ(controller->window()->width(), WelcomeView::kWidth);
    EXPECT_EQ(screenshotAndScan("welcome-window-zh-Hans.png"), WelcomeModel::kProductPageURL);
}

}  // namespace
}  // namespace kestrune
