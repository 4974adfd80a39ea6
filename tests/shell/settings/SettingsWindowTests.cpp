// The settings window on the test X server: panes, sizes, drafts written to the real Secret
// Service, the key recorders and the live language switch, and screenshots of every pane.
#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>

#include <unistd.h>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "app/CompositorBindingLines.hpp"
#include "platform/linux/qt/QtMainQueue.hpp"
#include "platform/linux/secret/SecretServiceKeyStore.hpp"
#include "platform/linux/x11/HotKeyService.hpp"
#include "shell/settings/SettingsWindowController.hpp"
#include "shell/settings/SettingsWiring.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/QtTestApplication.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/SettingsWindowTestSupport.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::find;
using testing::pumpFor;
using testing::pumpUntil;

// X keycodes of the US layout of the test X server.
constexpr int kKeycodeA = 38;
constexpr int kKeycodeV = 55;
constexpr int kKeycodeK = 45;
constexpr int kKeycodeF5 = 71;
constexpr int kKeycodeControl = 37;
constexpr int kKeycodeAlt = 64;
constexpr int kKeycodeRightAlt = 108;
constexpr int kKeycodeShift = 50;
constexpr int kKeycodeTab = 23;

PairedDevice phone(int index) {
    Uuid::Bytes bytes{};
    bytes.fill(static_cast<std::uint8_t>(index + 1));
    const auto now = std::chrono::system_clock::now();
    return PairedDevice{Uuid(bytes), "Phone " + std::to_string(index),
                        std::string(58, '0') + "4f2a9c", now - std::chrono::hours(24),
                        now - std::chrono::minutes(index)};
}

// A key press as the X server reports it: the keycode and the modifiers held.
void press(QWidget* target, int xKeycode, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, 0, modifiers, static_cast<quint32>(xKeycode), 0, 0);
    QApplication::sendEvent(target, &event);
}

class SettingsWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        testing::widgetsApplication();
        L10n::shared().setLanguageOverride("en");
        store_ = std::make_unique<SettingsStore>(defaults_, keys_, transcriptionKeys_, main_);
        phone_ = std::make_unique<PhoneSettingsModel>(
            defaults_,
            PhoneSettingsModel::Operations{
                .loadDevices = [this] { return devices_; },
                .turnOn = [](bool) {},
                .forget = [](const Uuid&) { return Result<void, std::string>(); },
                .idleTimeoutChanged = [] {},
                .confirm = [](const std::string&, const std::string&, std::function<void(bool)>) {},
                .alert = [](const std::string&, const std::string&) {},
                .pickFolder = [](const std::filesystem::path&,
                                 std::function<void(std::optional<std::filesystem::path>)>) {},
                .primeFileManagerAccess = [] {},
            });
    }

    void TearDown() override {
        controller_.reset();
        if (keys_) {
            (void)keys_->write("");
            (void)transcriptionKeys_->write("");
        }
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    SettingsWindowController& open(bool reduceMotion = true) {
        controller_ =
            std::make_unique<SettingsWindowController>(SettingsWindowController::Dependencies{
                .settings = *store_,
                .defaults = defaults_,
                .phone = *phone_,
                .launchAtLogin = {.isOn = [this] { return launchAtLogin_; },
                                  .setOn = [this](bool on) -> Result<void, std::string> {
                                      if (launchAtLoginFailure_) return *launchAtLoginFailure_;
                                      launchAtLogin_ = on;
                                      return {};
                                  },
                                  .isAvailable = [] { return true; },
                                  .note = [this] { return launchAtLoginNote_; },
                                  .refresh = [this] { ++launchAtLoginRefreshes_; }},
                .testRefinement =
                    [this](const LLMConfiguration& configuration,
                           std::function<void(Result<void, std::string>)> done) {
                        tested_.push_back(configuration);
                        pendingTest_ = std::move(done);
                    },
                .testTranscription =
                    [this](const OnlineTranscriptionConfiguration& configuration,
                           std::function<void(Result<void, std::string>)> done) {
                        transcriptionTested_.push_back(configuration);
                        done(std::string("The service answered 401"));
                    },
                .onTriggerKeyChange =
                    [this](TriggerKey key) {
                        triggerKeys_.push_back(key);
                        store_->setTriggerKey(key);
                    },
                .onShowWelcome = [this] { ++welcomes_; },
                .onHotKeyRecording =
                    [this](bool on) {
                        hotKeyRecording_.push_back(on);
                        if (suspendHotKey_) suspendHotKey_(on);
                    },
                .reduceMotion = [reduceMotion] { return reduceMotion; },
                .folderDisplayName = {},
                .availableScreenHeight = screenHeight_,
                .compositorBindings = compositorBindings_,
            });
        controller_->show();
        EXPECT_TRUE(pumpUntil([&] { return controller_->window()->isVisible(); }, 10s));
        return *controller_;
    }

    QWidget* window() const { return controller_->window(); }
    QWidget* pane() const {
        return find<QStackedWidget>(window(), "settingsPanes")->currentWidget();
    }
    QAction* tab(SettingsPane pane) const {
        return find<QToolBar>(window(), "settingsTabs")->actions().at(static_cast<int>(pane) + 1);
    }

    testing::TemporaryDirectory dir_{"murrelo-settings-window"};
    std::shared_ptr<UserDefaults> defaults_ =
        std::make_shared<UserDefaults>(dir_.path(), "zz.holvanis.murrelo");
    std::shared_ptr<SecretServiceKeyStore> keys_ = std::make_shared<SecretServiceKeyStore>(
        "settings-window-test-" + std::to_string(::getpid()));
    std::shared_ptr<SecretServiceKeyStore> transcriptionKeys_ =
        std::make_shared<SecretServiceKeyStore>("settings-window-test-transcription-" +
                                                std::to_string(::getpid()));
    QtMainQueue main_;
    std::unique_ptr<SettingsStore> store_;
    std::vector<PairedDevice> devices_;
    std::unique_ptr<PhoneSettingsModel> phone_;
    std::unique_ptr<SettingsWindowController> controller_;
    bool launchAtLogin_ = false;
    std::optional<std::string> launchAtLoginFailure_;
    std::string launchAtLoginNote_;
    int launchAtLoginRefreshes_ = 0;
    std::vector<OnlineTranscriptionConfiguration> transcriptionTested_;
    std::vector<LLMConfiguration> tested_;
    std::function<void(Result<void, std::string>)> pendingTest_;
    std::vector<TriggerKey> triggerKeys_;
    std::vector<bool> hotKeyRecording_;
    // What the application does with the live shortcut while one is recorded.
    std::function<void(bool)> suspendHotKey_;
    int welcomes_ = 0;
    // Empty: the test X server's screen.
    std::function<std::optional<int>()> screenHeight_;
    // Empty: an X11 session.
    std::function<std::string(const TriggerKey&, const std::optional<GlobalHotKey>&)>
        compositorBindings_;
};

// On a Wayland session the compositor runs push-to-talk: the section shows the lines for its
// configuration, made by the application's own function, and they follow the stored keys.
TEST_F(SettingsWindowTest, OnWaylandPushToTalkShowsTheCompositorLinesForTheStoredKeys) {
    compositorBindings_ = [](const TriggerKey& key, const std::optional<GlobalHotKey>& shortcut) {
        auto lines = app::compositorBindingLines(key, shortcut, "/usr/bin/murrelo");
        return lines ? *lines : lines.error().sentence;
    };
    defaults_->set(kSettingsLastPaneKey, std::string("speech"));
    open();
    auto* lines = find<QPlainTextEdit>(pane(), "compositorBindings");
    EXPECT_EQ(lines->accessibleName(), "Compositor key bindings");
    EXPECT_TRUE(lines->isReadOnly());
    const auto text = [lines] { return lines->toPlainText().toStdString(); };
    EXPECT_NE(text().find("bindsym --release Alt_R exec /usr/bin/murrelo ctl dictation release"),
              std::string::npos)
        << text();
    store_->setTriggerKey(TriggerKey::dedicatedKey(96));
    store_->setSendToPhoneHotKey(GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::shift));
    EXPECT_NE(text().find("bindsym --no-repeat F5 exec"), std::string::npos) << text();
    EXPECT_NE(text().find("bindsym Ctrl+Shift+k exec /usr/bin/murrelo ctl send-clipboard"),
              std::string::npos)
        << text();
    if (const char* docs = std::getenv("MURRELO_SCREENSHOT_DIR")) {
        ASSERT_TRUE(testing::waitUntilSettled(window()));
        window()->grab().save(
            QString::fromStdString(std::string(docs) + "/settings-speech-wayland-en.png"));
    }
    // A key with no Linux key code has nothing a compositor could bind: the sentence instead.
    store_->setTriggerKey(TriggerKey::dedicatedKey(4000));
    EXPECT_NE(text().find("cannot be bound by the compositor"), std::string::npos) << text();
}

TEST_F(SettingsWindowTest, OnX11NoCompositorLines) {
    defaults_->set(kSettingsLastPaneKey, std::string("speech"));
    open();
    EXPECT_EQ(pane()->findChild<QPlainTextEdit*>("compositorBindings"), nullptr);
}

TEST_F(SettingsWindowTest, OpensTheRememberedPaneFittedToItsHeightAndHidesOnEscape) {
    auto& controller = open();
    EXPECT_EQ(controller.currentPane(), SettingsPane::general) << "nothing stored: General";
    EXPECT_EQ(window()->windowTitle(), "General");
    EXPECT_EQ(window()->width(), 560);
    const int generalHeight = window()->height();
    const QPoint middle = window()->screen()->availableGeometry().center();
    EXPECT_LE((window()->frameGeometry().center() - middle).manhattanLength(), 2);
    EXPECT_EQ(find<QGroupBox>(pane(), "") != nullptr, true);
    EXPECT_EQ(pane()->findChildren<QGroupBox*>().size(), 3) << "no Updates box on this platform";

    const int top = window()->geometry().top();
    tab(SettingsPane::phone)->trigger();
    ASSERT_TRUE(testing::waitUntilSettled(window()));
    EXPECT_EQ(controller.currentPane(), SettingsPane::phone);
    EXPECT_EQ(window()->windowTitle(), "Phone Connection");
    EXPECT_EQ(defaults_->string(kSettingsLastPaneKey), "phone");
    EXPECT_GT(window()->height(), generalHeight);
    EXPECT_EQ(window()->width(), 560);
    EXPECT_EQ(window()->geometry().top(), top) << "the top edge stays";
    // Exactly the pane's height: nothing cut off, nothing spare.
    for (auto* box : pane()->findChildren<QGroupBox*>()) {
        EXPECT_LE(box->mapTo(window(), QPoint(0, box->height())).y(), window()->height());
    }

    // Escape closes; the same window comes back, in the middle of the screen again although it
    // was moved aside.
    QWidget* first = window();
    window()->move(0, 0);
    testing::giveFocus(window());
    testing::fakeKey(9, true);
    testing::fakeKey(9, false);
    EXPECT_TRUE(pumpUntil([&] { return !window()->isVisible(); }, 10s));
    controller.show();
    EXPECT_EQ(window(), first);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_LE((window()->frameGeometry().center() - middle).manhattanLength(), 2);

    // The next start, reading the settings file afresh, opens the pane stored last.
    controller_.reset();
    defaults_ = std::make_shared<UserDefaults>(dir_.path(), "zz.holvanis.murrelo");
    auto& again = open();
    EXPECT_EQ(again.currentPane(), SettingsPane::phone);
    EXPECT_EQ(window()->windowTitle(), "Phone Connection");

    // Animated resizing ends at the same fitted height.
    controller_.reset();
    open(false);
    const int phoneHeight = window()->height();
    tab(SettingsPane::general)->trigger();
    EXPECT_TRUE(pumpUntil([&] { return window()->height() == generalHeight; }, 10s));
    tab(SettingsPane::phone)->trigger();
    EXPECT_TRUE(pumpUntil([&] { return window()->height() == phoneHeight; }, 10s));
}

TEST_F(SettingsWindowTest, SevenPhonesAreListedPlainlyAndEightScroll) {
    ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry().height(), 800)
        << "the test X server's screen";
    for (int i = 0; i < 7; ++i) devices_.push_back(phone(i));
    phone_->reload();
    defaults_->set(kSettingsLastPaneKey, std::string("phone"));
    open();
    ASSERT_TRUE(testing::waitUntilSettled(window()));
    auto* list = find<QListView>(pane(), "phoneList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->verticalScrollBar()->maximum(), 0) << "seven rows are listed whole";
    EXPECT_EQ(list->findChildren<QPushButton*>().size(), 7);
    EXPECT_EQ(list->height(), 7 * 32);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "Phone 0 · …4f2a9c · just now");
    const int sevenHeight = window()->height();

    devices_.push_back(phone(7));
    phone_->reload();
    EXPECT_TRUE(pumpUntil([&] { return list->verticalScrollBar()->maximum() > 0; }, 10s))
        << "the eighth row scrolls";
    EXPECT_EQ(list->height(), 240);
    EXPECT_EQ(window()->height(), sevenHeight + 240 - 224) << "refitted to the list";

    // Tab goes on to the row below the fold, and the list scrolls to it.
    const auto removeButton = [&](const QString& name) -> QPushButton* {
        for (auto* button : list->findChildren<QPushButton*>()) {
            if (button->isVisibleTo(window()) && button->accessibleName() == name) return button;
        }
        return nullptr;
    };
    auto* seventh = removeButton("Remove “Phone 6”?");
    auto* eighth = removeButton("Remove “Phone 7”?");
    ASSERT_TRUE(seventh && eighth);
    ASSERT_TRUE(testing::giveFocus(window()));
    seventh->setFocus(Qt::TabFocusReason);
    QKeyEvent tabKey(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(seventh, &tabKey);
    EXPECT_EQ(QApplication::focusWidget(), eighth);
    auto* scrollBar = list->verticalScrollBar();
    EXPECT_TRUE(pumpUntil([&] { return scrollBar->value() == scrollBar->maximum(); }, 10s));

    devices_.clear();
    phone_->reload();
    ASSERT_TRUE(pumpUntil([&] { return find<QLabel>(pane(), "noPairedPhones") != nullptr; }, 10s));
    EXPECT_EQ(find<QLabel>(pane(), "noPairedPhones")->text(), "No paired phones");
}

// On a low screen the phone list's limit is lower, and a pane still taller than the screen
// scrolls inside a window no higher than the screen.
TEST_F(SettingsWindowTest, APaneTallerThanTheScreenScrollsInsideIt) {
    screenHeight_ = [] { return std::optional<int>(500); };
    for (int i = 0; i < 5; ++i) devices_.push_back(phone(i));
    phone_->reload();
    defaults_->set(kSettingsLastPaneKey, std::string("phone"));
    open();
    auto* list = find<QListView>(pane(), "phoneList");
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(pumpUntil([&] { return list->verticalScrollBar()->maximum() > 0; }, 10s))
        << "5 rows need 160 pixels, more than 30 % of 500";
    EXPECT_EQ(list->height(), 150);
    EXPECT_EQ(window()->height(), 500);
    auto* paneScroll = qobject_cast<QScrollArea*>(pane());
    ASSERT_NE(paneScroll, nullptr);
    EXPECT_GT(paneScroll->verticalScrollBar()->maximum(), 0) << "the rest is reached by scrolling";
    tab(SettingsPane::general)->trigger();
    EXPECT_LT(window()->height(), 500) << "a short pane is not stretched";
}

// A key the key store refuses while the pane is open is said there at once, and the line goes
// once a later write works.
TEST_F(SettingsWindowTest, AKeyStoreRefusalShowsWhileThePaneIsOpen) {
    auto refusing = std::make_shared<InMemoryLLMKeyStore>();
    refusing->failWrites = true;
    store_ = std::make_unique<SettingsStore>(defaults_, keys_, refusing, main_);
    defaults_->set(kSettingsLastPaneKey, std::string("llm"));
    open();
    auto* failure = find<QLabel>(pane(), "keyStoreFailure");
    ASSERT_NE(failure, nullptr);
    EXPECT_FALSE(failure->isVisible());
    store_->setTranscriptionAPIKey("sk-refused");
    EXPECT_TRUE(failure->isVisible());
    EXPECT_FALSE(failure->text().isEmpty());
    refusing->failWrites = false;
    store_->setTranscriptionAPIKey("sk-kept");
    EXPECT_FALSE(failure->isVisible());
    controller_.reset();
}

TEST_F(SettingsWindowTest, TypedDraftsReachTheSecretServiceOnClosingAndOnSwitchingTabs) {
    defaults_->set(kSettingsLastPaneKey, std::string("llm"));
    open();
    auto* apiKey = find<QLineEdit>(pane(), "llmAPIKey");
    ASSERT_NE(apiKey, nullptr);
    apiKey->setFocus();
    for (const char* text : {"s", "k", "-", "1"}) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(text));
        QApplication::sendEvent(apiKey, &key);
    }
    EXPECT_EQ(apiKey->text(), "sk-1");
    EXPECT_EQ(store_->llmAPIKey().value(), "") << "typing alone stores nothing";

    // "Test" sends what is typed and stores nothing.
    find<QPushButton>(pane(), "testRefinement")->click();
    ASSERT_EQ(tested_.size(), 1u);
    EXPECT_EQ(tested_[0].apiKey, "sk-1");
    EXPECT_TRUE(tested_[0].isEnabled);
    EXPECT_EQ(keys_->read().value_or(""), "");
    EXPECT_EQ(find<QLabel>(pane(), "llmStatus")->text(), "Testing…");
    EXPECT_FALSE(find<QPushButton>(pane(), "testRefinement")->isEnabled());
    pendingTest_({});
    EXPECT_EQ(find<QLabel>(pane(), "llmStatus")->text(), "Success. The LLM endpoint responded.");
    EXPECT_EQ(keys_->read().value_or(""), "");

    window()->close();
    EXPECT_EQ(store_->llmAPIKey().value(), "sk-1");
    EXPECT_EQ(SecretServiceKeyStore("settings-window-test-" + std::to_string(::getpid())).read(),
              "sk-1")
        << "in the Secret Service itself";

    controller_->show();
    auto* model = find<QLineEdit>(pane(), "llmModel");
    model->setFocus();
    model->selectAll();
    for (const char* text : {"m", "2"}) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(text));
        QApplication::sendEvent(model, &key);
    }
    tab(SettingsPane::general)->trigger();
    EXPECT_EQ(store_->llmModel().value(), "m2");
    EXPECT_EQ(defaults_->string("llmModel"), "m2");

    // The transcription form follows the same rules, with its own key in the Secret Service.
    tab(SettingsPane::speech)->trigger();
    auto* speechKey = pane()->findChildren<QLineEdit*>().at(1);
    ASSERT_EQ(speechKey->placeholderText(), "sk-...");
    speechKey->setFocus();
    for (const char* text : {"s", "k", "-", "2"}) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(text));
        QApplication::sendEvent(speechKey, &key);
    }
    find<QPushButton>(pane(), "testTranscription")->click();
    ASSERT_EQ(transcriptionTested_.size(), 1u);
    EXPECT_EQ(transcriptionTested_[0].apiKey, "sk-2");
    EXPECT_EQ(transcriptionTested_[0].model, "whisper-1");
    EXPECT_EQ(find<QLabel>(pane(), "transcriptionStatus")->text(), "The service answered 401");
    EXPECT_EQ(store_->transcriptionAPIKey().value(), "") << "the test stores nothing";
    tab(SettingsPane::phone)->trigger();
    EXPECT_EQ(store_->transcriptionAPIKey().value(), "sk-2");
    EXPECT_EQ(
        SecretServiceKeyStore("settings-window-test-transcription-" + std::to_string(::getpid()))
            .read(),
        "sk-2");
    EXPECT_EQ(keys_->read(), "sk-1") << "the refinement key is untouched";

    // Two spaces as the base URL with refinement on: the line says what is missing (in a window
    // without a test result, which the line would show first).
    controller_.reset();
    defaults_->set(kSettingsLastPaneKey, std::string("llm"));
    open();
    find<QCheckBox>(pane(), "llmEnabled")->setChecked(true);
    EXPECT_EQ(find<QLabel>(pane(), "llmStatus")->text(), "");
    auto* baseURL = find<QLineEdit>(pane(), "llmBaseURL");
    baseURL->setFocus();
    baseURL->selectAll();
    for (int i = 0; i < 2; ++i) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
        QApplication::sendEvent(baseURL, &key);
    }
    EXPECT_EQ(find<QLabel>(pane(), "llmStatus")->text(),
              "Nothing is refined until the API Base URL is filled in.");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(baseURL, &enter);
    EXPECT_EQ(store_->llmBaseURL().value(), "  ") << "Return commits the field as typed";
    EXPECT_EQ(find<QLabel>(pane(), "llmStatus")->text(),
              "Nothing is refined until the API Base URL is filled in.");
}

TEST_F(SettingsWindowTest, RecordersRefuseWhatTheyMustAndBindTheRest) {
    defaults_->set(kSettingsLastPaneKey, std::string("speech"));
    open();
    auto* recorder = find<QWidget>(pane(), "triggerKeyRecorder");
    auto* record = find<QPushButton>(recorder, "recordTriggerKey");
    record->click();
    EXPECT_EQ(record->text(), "Cancel");
    EXPECT_EQ(find<QLabel>(recorder, "triggerKeyDisplay")->text(), "Press a key…");
    press(recorder, kKeycodeA);
    EXPECT_EQ(find<QLabel>(recorder, "triggerKeyHint")->text(),
              "A is needed for typing — pick a spare key.");
    EXPECT_TRUE(triggerKeys_.empty());
    // Escape cancels the recording, not the window.
    press(recorder, 9);
    EXPECT_EQ(record->text(), "Record a Key");
    EXPECT_TRUE(window()->isVisible());
    record->click();
    press(recorder, kKeycodeF5);
    ASSERT_EQ(triggerKeys_.size(), 1u);
    EXPECT_EQ(triggerKeys_[0], TriggerKey::dedicatedKey(96));
    EXPECT_EQ(find<QLabel>(recorder, "triggerKeyHint")->text(), "Bound to F5.");
    auto* picker = find<QComboBox>(pane(), "triggerKeyPicker");
    EXPECT_EQ(picker->currentText(), "F5 (custom)") << "the picker follows the stored key";

    // A real key press from the X server: Right Alt's keycode comes back as the catalog's key.
    ASSERT_TRUE(testing::giveFocus(window()));
    record->click();
    testing::syncWithXServer();  // the keyboard grab is in place
    testing::fakeKey(kKeycodeRightAlt, true);
    testing::fakeKey(kKeycodeRightAlt, false);
    ASSERT_TRUE(pumpUntil([&] { return triggerKeys_.size() == 2; }, 30s));
    EXPECT_EQ(triggerKeys_[1], TriggerKey::modifier(61));
    EXPECT_EQ(find<QLabel>(recorder, "triggerKeyHint")->text(), "Bound to Right Alt.");
    EXPECT_EQ(picker->currentText(), "Right Alt");
    testing::syncWithXServer();  // the grab is released

    // The Send-to-Phone shortcut, with the live shortcut really registered on the X server.
    x11::HotKeyService system(main_);
    int fired = 0;
    GlobalHotKeyCenter center([&] { ++fired; }, {}, &system);
    auto registering = store_->sendToPhoneHotKey().subscribe(
        [&](const std::optional<GlobalHotKey>& hotKey) { center.setHotKey(hotKey); });
    hotKeyRecording_.clear();
    controller_.reset();
    defaults_->set(kSettingsLastPaneKey, std::string("phone"));
    open();
    auto* hotKeys = find<QWidget>(pane(), "hotKeyRecorder");
    find<QPushButton>(hotKeys, "recordHotKey")->click();
    EXPECT_EQ(hotKeyRecording_, std::vector<bool>{true});
    press(hotKeys, kKeycodeV, Qt::ControlModifier);
    EXPECT_EQ(find<QLabel>(hotKeys, "hotKeyCaption")->text(),
              QString::fromStdString(GlobalHotKey::message(GlobalHotKey::Refusal::commonShortcut)));
    EXPECT_EQ(find<QPushButton>(hotKeys, "recordHotKey")->text(), "Cancel") << "still recording";
    press(hotKeys, kKeycodeK, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(store_->sendToPhoneHotKey().value(),
              GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::option));
    EXPECT_EQ(find<QLabel>(hotKeys, "hotKeyCaption")->text(), "Set to Ctrl+Alt+K.");
    EXPECT_EQ(find<QLabel>(hotKeys, "hotKeyDisplay")->text(), "Ctrl+Alt+K");
    EXPECT_EQ(hotKeyRecording_, (std::vector<bool>{true, false}));

    // The live shortcut works, but not while a new one is being recorded: pressed then, it is
    // recorded instead.
    suspendHotKey_ = [&](bool on) {
        if (on) {
            center.suspend();
        } else {
            center.resume();
        }
    };
    const auto pressCtrlAltK = [] {
        testing::fakeKey(kKeycodeControl, true);
        testing::fakeKey(kKeycodeAlt, true);
        testing::fakeKey(kKeycodeK, true);
        testing::fakeKey(kKeycodeK, false);
        testing::fakeKey(kKeycodeAlt, false);
        testing::fakeKey(kKeycodeControl, false);
    };
    ASSERT_TRUE(center.isRegistered());
    testing::syncWithXServer();  // Qt has released the keyboard
    pressCtrlAltK();
    ASSERT_TRUE(pumpUntil([&] { return fired == 1; }, 30s)) << "the registered shortcut fires";

    ASSERT_TRUE(testing::giveFocus(window()));
    find<QPushButton>(hotKeys, "recordHotKey")->click();
    EXPECT_TRUE(center.isSuspended());
    EXPECT_FALSE(center.isRegistered());
    testing::syncWithXServer();  // Qt's keyboard grab is in place
    pressCtrlAltK();
    ASSERT_TRUE(pumpUntil(
        [&] { return find<QPushButton>(hotKeys, "recordHotKey")->text() == "Record Shortcut"; },
        30s))
        << "the press reached the recorder";
    EXPECT_EQ(find<QLabel>(hotKeys, "hotKeyCaption")->text(), "Set to Ctrl+Alt+K.");
    // Something that must not happen has no moment to wait for: a bounded look instead.
    pumpFor(300ms);
    EXPECT_EQ(fired, 1) << "the live shortcut did not fire while recording";
    EXPECT_FALSE(center.isSuspended());
    EXPECT_TRUE(center.isRegistered());

    // Clear removes the shortcut.
    find<QPushButton>(hotKeys, "clearHotKey")->click();
    EXPECT_EQ(store_->sendToPhoneHotKey().value(), std::nullopt);
    EXPECT_EQ(find<QLabel>(hotKeys, "hotKeyDisplay")->text(), "Not set");
    EXPECT_FALSE(find<QPushButton>(hotKeys, "clearHotKey")->isVisible());
}

TEST_F(SettingsWindowTest, ChoosingALanguageRelabelsEveryOpenWindow) {
    open();
    int otherWindow = 0;
    auto observing = InterfaceLanguageSignal::observe([&] { ++otherWindow; });
    auto* language = find<QComboBox>(pane(), "interfaceLanguage");
    ASSERT_NE(language, nullptr);
    const int chinese = language->findData("zh-Hans");
    ASSERT_GE(chinese, 0);
    language->setCurrentIndex(chinese);
    emit language->activated(chinese);
    ASSERT_TRUE(pumpUntil([&] { return otherWindow == 1; }, 10s));
    EXPECT_EQ(defaults_->string("interfaceLanguage"), "zh-Hans");
    EXPECT_EQ(window()->windowTitle(), "通用");
    EXPECT_EQ(tab(SettingsPane::phone)->text(), "手机连接");
    EXPECT_EQ(find<QPushButton>(pane(), "showWelcome")->text(),
              QString::fromStdString(localized("Show Welcome Window…")));
    EXPECT_NE(find<QPushButton>(pane(), "showWelcome")->text(), "Show Welcome Window…");
    find<QPushButton>(pane(), "showWelcome")->click();
    EXPECT_EQ(welcomes_, 1);

    language = find<QComboBox>(pane(), "interfaceLanguage");
    const int english = language->findData("en");
    emit language->activated(english);
    ASSERT_TRUE(pumpUntil([&] { return otherWindow == 2; }, 10s));
    EXPECT_EQ(window()->windowTitle(), "General");

    // A language change from elsewhere rebuilds the panes; nothing typed is lost (the field
    // going away with the focus in it commits it).
    controller_->showPane(SettingsPane::llm);
    auto* model = find<QLineEdit>(pane(), "llmModel");
    model->setFocus();
    QKeyEvent typed(QEvent::KeyPress, 0, Qt::NoModifier, "x");
    QApplication::sendEvent(model, &typed);
    L10n::shared().setLanguageOverride("zh-Hans");
    InterfaceLanguageSignal::announce();
    EXPECT_EQ(window()->windowTitle(), "LLM 优化");
    EXPECT_EQ(find<QLineEdit>(pane(), "llmModel")->text(), "gpt-4.1-minix");
    EXPECT_EQ(store_->llmModel().value(), "gpt-4.1-minix");
}

// Every control names itself to assistive technology, and the keyboard walks the controls top
// to bottom, left to right.
TEST_F(SettingsWindowTest, ControlsHaveNamesAndTabOrderFollowsTheLayout) {
    devices_ = {phone(0), phone(1)};
    phone_->reload();
    open();
    const auto check = [&](SettingsPane shown) {
        controller_->showPane(shown);
        ASSERT_TRUE(testing::waitUntilSettled(window()));
        std::vector<QWidget*> controls;
        for (auto* widget : pane()->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(window()) || widget->focusPolicy() == Qt::NoFocus) continue;
            if (!qobject_cast<QAbstractButton*>(widget) && !qobject_cast<QComboBox*>(widget) &&
                !qobject_cast<QLineEdit*>(widget))
                continue;
            controls.push_back(widget);
            auto* accessible = QAccessible::queryAccessibleInterface(widget);
            ASSERT_NE(accessible, nullptr);
            EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty())
                << rawValue(shown) << ": " << widget->metaObject()->className() << " "
                << widget->objectName().toStdString();
        }
        ASSERT_FALSE(controls.empty());
        // Follow the focus chain from the first control through every control of the pane.
        std::vector<QPoint> order;
        QWidget* at = controls.front();
        for (std::size_t seen = 0; seen < controls.size() * 4 && order.size() < controls.size();
             ++seen) {
            if (std::find(controls.begin(), controls.end(), at) != controls.end())
                order.push_back(at->mapTo(window(), at->rect().center()));
            at = at->nextInFocusChain();
        }
        ASSERT_EQ(order.size(), controls.size()) << rawValue(shown);
        for (std::size_t i = 1; i < order.size(); ++i) {
            const bool sameRow = std::abs(order[i].y() - order[i - 1].y()) < 8;
            EXPECT_TRUE(sameRow ? order[i].x() > order[i - 1].x() : order[i].y() > order[i - 1].y())
                << rawValue(shown) << ": control " << i << " comes before one above or left of it";
        }
    };
    for (auto shown : kAllSettingsPanes) check(shown);
    // A phone list rebuilt while the window is open keeps its place in the order.
    devices_ = {phone(0), phone(1), phone(2)};
    phone_->reload();
    check(SettingsPane::phone);
}

TEST_F(SettingsWindowTest, TheKeyboardAloneGoesRoundTheTabs) {
    open();
    ASSERT_TRUE(testing::giveFocus(window()));
    const auto ctrlTab = [](bool shift) {
        testing::fakeKey(kKeycodeControl, true);
        if (shift) testing::fakeKey(kKeycodeShift, true);
        testing::fakeKey(kKeycodeTab, true);
        testing::fakeKey(kKeycodeTab, false);
        if (shift) testing::fakeKey(kKeycodeShift, false);
        testing::fakeKey(kKeycodeControl, false);
    };
    ctrlTab(false);
    EXPECT_TRUE(pumpUntil([&] { return controller_->currentPane() == SettingsPane::speech; }, 10s));
    ctrlTab(true);
    ctrlTab(true);
    EXPECT_TRUE(pumpUntil([&] { return controller_->currentPane() == SettingsPane::llm; }, 10s));
    EXPECT_EQ(defaults_->string(kSettingsLastPaneKey), "llm");
    // The tabs themselves take the focus, so Space on one opens it.
    auto* button =
        find<QToolBar>(window(), "settingsTabs")->widgetForAction(tab(SettingsPane::phone));
    EXPECT_NE(button->focusPolicy() & Qt::TabFocus, 0);
}

TEST_F(SettingsWindowTest, LaunchAtLoginShowsTheModelAndWhyAChangeFailed) {
    launchAtLoginNote_ = "Not available here — Launch at Login works only from the installed app.";
    open();
    auto* toggle = find<QCheckBox>(pane(), "launchAtLogin");
    auto* note = find<QLabel>(pane(), "launchAtLoginNote");
    EXPECT_EQ(note->text().toStdString(), launchAtLoginNote_);
    EXPECT_GE(launchAtLoginRefreshes_, 1) << "read again when the window is shown";
    launchAtLoginNote_.clear();
    toggle->click();
    EXPECT_TRUE(launchAtLogin_);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(note->isVisibleTo(window()));

    launchAtLoginFailure_ = "The autostart folder is read-only";
    toggle->click();
    EXPECT_TRUE(toggle->isChecked()) << "the switch shows what is true, not what was asked";
    EXPECT_EQ(note->text(), "The autostart folder is read-only");
    launchAtLoginFailure_.reset();
}

// The switch over the real launch-at-login model: a refused change is reported and the switch
// shows what is true; coming back reads it again without the old failure.
TEST(LaunchAtLoginControls, ReportTheModelsFailureAndReadItAgain) {
    LoginItemStatus status = LoginItemStatus::notRegistered;
    bool refuse = false;
    LaunchAtLoginModel model(LoginItem{
        .isInstalled = true,
        .readStatus = [&] { return status; },
        .registerItem = [&]() -> Result<void, std::string> {
            if (refuse) return std::string("refused");
            status = LoginItemStatus::enabled;
            return {};
        },
        .unregisterItem = [&]() -> Result<void, std::string> {
            if (refuse) return std::string("refused");
            status = LoginItemStatus::notRegistered;
            return {};
        },
    });
    auto controls = settings_wiring::launchAtLoginControls(model);
    EXPECT_TRUE(controls.isAvailable());
    EXPECT_TRUE(controls.setOn(true).ok());
    EXPECT_TRUE(controls.isOn());
    EXPECT_EQ(controls.note(), "");
    refuse = true;
    const auto refused = controls.setOn(false);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().find("refused"), std::string::npos);
    EXPECT_TRUE(controls.isOn());
    EXPECT_NE(controls.note().find("refused"), std::string::npos);
    controls.refresh();
    EXPECT_EQ(controls.note(), "");
}

// The same through AT-SPI, as a screen reader meets the window: every shown control of every
// pane has a name.
TEST_F(SettingsWindowTest, AScreenReaderFindsANameForEveryControl) {
    if (std::system("/usr/bin/python3 -c \"import gi; gi.require_version('Atspi', '2.0')\" "
                    "2>/dev/null") != 0)
        GTEST_SKIP() << "needs python3-gi and gir1.2-atspi-2.0 (scripts/install-deps)";
    devices_ = {phone(0)};
    phone_->reload();
    open();
    const std::string script =
        std::string(MURRELO_SOURCE_DIR) + "/tests/shell/settings/accessible_names.py";
    for (auto shown : kAllSettingsPanes) {
        // The script waits for the window to have this pane's title.
        controller_->showPane(shown);
        const std::string command = "/usr/bin/python3 " + script + " '" +
                                    QApplication::applicationName().toStdString() + "' '" +
                                    window()->windowTitle().toStdString() + "' 2>&1";
        // The bridge answers from this thread's event loop, so the question runs beside it.
        std::string output;
        std::atomic<bool> done = false;
        std::thread asking([&] {
            output = testing::commandOutput(command);
            done = true;
        });
        const bool answered = pumpUntil([&] { return done.load(); }, 120s);
        asking.join();
        ASSERT_TRUE(answered);
        EXPECT_NE(output.find("checked "), std::string::npos) << output;
        EXPECT_EQ(output.find("checked 0\n"), std::string::npos) << output;
        EXPECT_EQ(output.find("unnamed"), std::string::npos) << rawValue(shown) << ":\n" << output;
    }
}

// Every pane in both languages, as the documentation shows them.
TEST_F(SettingsWindowTest, ScreenshotsOfEveryPaneInBothLanguages) {
    devices_ = {phone(0), phone(3)};
    devices_[1].name = "Ana’s phone";
    devices_[1].lastConnectedAt = std::chrono::system_clock::now() - std::chrono::hours(3);
    phone_->reload();
    store_->setSendToPhoneHotKey(GlobalHotKey(40, GlobalHotKey::command | GlobalHotKey::option));
    store_->setLLMEnabled(true);
    const char* docs = std::getenv("MURRELO_SCREENSHOT_DIR");
    for (const char* language : {"en", "zh-Hans"}) {
        L10n::shared().setLanguageOverride(language);
        controller_.reset();
        open();
        for (auto shown : kAllSettingsPanes) {
            controller_->showPane(shown);
            ASSERT_TRUE(testing::waitUntilSettled(window()));
            const QPixmap shot = window()->grab();
            EXPECT_EQ(shot.width(), 560);
            EXPECT_EQ(shot.height(), window()->height());
            const std::string name =
                std::string("settings-") + std::string(rawValue(shown)) + "-" + language + ".png";
            EXPECT_TRUE(shot.save(QString::fromStdString((dir_.path() / name).string())));
            if (docs) shot.save(QString::fromStdString(std::string(docs) + "/" + name));
        }
    }
}

}  // namespace
}  // namespace kestrune
