// Pairing a phone through the real window, prompt, server and typing, on the test X server: the
// code on screen is read back with a QR scanner, a phone pairs with it while the test presses the
// prompt's buttons, and what the phone sends is typed into a receiving application.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "app/PhoneConnection.hpp"
#include "app/Root.hpp"
#include "app/Services.hpp"
#include "platform/linux/qt/NonModalPrompt.hpp"
#include "platform/linux/qt/QtMainQueue.hpp"
#include "platform/linux/x11/X11Typist.hpp"
#include "shell/pairing/PairingWindowController.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/PromptWaiting.hpp"
#include "tests/support/QtEventPump.hpp"
#include "tests/support/QtTestApplication.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/SmallDisk.hpp"
#include "tests/support/TemporaryDirectory.hpp"

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace kestrune {
namespace {

using namespace std::chrono_literals;

// Making the certificate with openssl and bringing the server up takes seconds; a loaded machine
// running sanitizers gets ten times that.
constexpr auto kLimit = 90s;

// Runs the Qt event loop until `done` holds or the limit passes.
template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = kLimit) {
    return testing::pumpEventsUntil(std::move(done), limit);
}

// A phone request's outcome, arriving on the client's own queue.
template <typename T>
struct Outcome {
    std::mutex lock;
    std::optional<Result<T, RemoteClient::Failure>> value;
    RemoteClient::Completion<T> completion() {
        return [this](Result<T, RemoteClient::Failure> result) {
            std::lock_guard guard(lock);
            value.emplace(std::move(result));
        };
    }
    bool arrived() {
        std::lock_guard guard(lock);
        return value.has_value();
    }
};

RemoteClient::Timing phoneTiming() {
    return {
        .replyTimeout = 60s, .approvalTimeout = 120s, .connectTimeout = 60s, .staleAfter = 300s};
}

// A pointer click where the user would click: at the middle of the widget, through XTest.
void clickOn(QWidget* widget) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    XTestFakeMotionEvent(display, -1, centre.x(), centre.y(), CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
}

// Without a window manager nobody hands the keyboard to a new window; one would.
void giveFocus(QWidget* window) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XSetInputFocus(display, static_cast<Window>(window->winId()), RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    ASSERT_TRUE(pumpUntil([window] { return QApplication::activeWindow() == window; }, 10s));
}

class PairingFlow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        if (std::system("command -v zbarimg >/dev/null && command -v import >/dev/null") != 0) {
            GTEST_SKIP() << "needs zbarimg and import";
        }
        start();
    }

    // Phone Connection as the application makes it, over the data folder.
    void start() {
        testing::widgetsApplication();
        L10n::shared().setLanguageOverride("en");
        ASSERT_TRUE(x11::isTrusted());

        services_ =
            std::make_unique<app::Services>(main_, app::Root::openSettings(settingsFolder_.path()));
        app::PhoneConnectionWindows windows{
            .presentAlert = [this](const std::string& title,
                                   const std::string&) { alerts_.push_back(title); },
            .showApproval = qtApprovalPrompts(),
            .makePairingWindow =
                [this] {
                    auto window = std::make_unique<PairingWindowController>();
                    window_ = window.get();
                    return window;
                },
            .observeLanguageChange = [](std::function<void()>) { return Subscription(); },
            .computerName = [] { return std::optional<std::string>("Test Desk"); },
        };
        // The listener stays on loopback in tests, so the code carries a stand-in address of a
        // local network and the phone dials 127.0.0.1 instead.
        app::PhoneConnection::Options options{
            .directory = data_.path(),
            .advertise = false,
            .loopbackOnly = true,
            .interfaces =
                [] {
                    return std::vector<LocalAddress::Interface>{{"eth0", "10.0.0.7"}};
                },
            .primaryInterface = [] { return std::optional<std::string>("eth0"); },
            .reportStoreProblem = {},
        };
        connection_ = std::make_unique<app::PhoneConnection>(
            services_->phoneConnectionPlatform(), main_, std::move(windows), std::move(options));
        controller_ = &connection_->controller();
        devices_ = controller_->devices();
    }

    void TearDown() override {
        connection_.reset();
        services_.reset();
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    std::uint16_t port() const {
        return std::get<RemoteInputLifecycle::On>(controller_->state()).port;
    }

    // The link of the code on screen, read back from a screenshot of the whole display; shot
    // again until the window's code reads, as a busy machine may not have painted it yet.
    std::string scanScreen(const std::string& savedAs) {
        const auto before = window_ ? window_->shownLink() : std::string();
        const auto shot = (screens_ / savedAs).string();
        std::string link;
        pumpUntil([&] {
            EXPECT_EQ(std::system(("import -window root " + shot).c_str()), 0);
            link = testing::commandOutput("zbarimg --raw -q " + shot);
            while (!link.empty() && (link.back() == '\n' || link.back() == '\r')) link.pop_back();
            return !link.empty() && link == before;
        });
        if (const char* docs = std::getenv("MURRELO_SCREENSHOT_DIR")) {
            std::system(("import -window " + std::to_string(window_->window()->winId()) + " " +
                         docs + "/" + savedAs)
                            .c_str());
        }
        EXPECT_EQ(link, before) << "the scanned code is the one the window shows";
        return link;
    }

    testing::TemporaryDirectory data_{"murrelo-pairing-flow"};
    testing::TemporaryDirectory settingsFolder_{"murrelo-pairing-settings"};
    testing::TemporaryDirectory screens_{"murrelo-pairing-screens"};
    QtMainQueue main_;
    std::shared_ptr<PairedDeviceStore> devices_;
    std::unique_ptr<app::Services> services_;
    std::unique_ptr<app::PhoneConnection> connection_;
    RemoteInputController* controller_ = nullptr;
    PairingWindowController* window_ = nullptr;
    std::vector<std::string> alerts_;
};

TEST_F(PairingFlow, PhonePairsFromTheScreenAndTypes) {
    controller_->turnOn(true);
    ASSERT_TRUE(pumpUntil([&] { return window_ && !window_->shownLink().empty(); }))
        << "no code on screen; alerts: " << alerts_.size();
    ASSERT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->window()->size(), QSize(340, 420));
    EXPECT_EQ(window_->window()->windowTitle(), "Pair a Phone");

    const auto scanned = PairingPayload::decode(scanScreen("pairing-window.png"));
    ASSERT_TRUE(scanned.ok());
    const auto identity = TLSIdentityStore(data_.path()).load();
    ASSERT_TRUE(identity.ok());
    EXPECT_EQ(scanned->fingerprint, identity.value().fingerprint);
    EXPECT_EQ(scanned->port, port());
    EXPECT_EQ(scanned->host, "10.0.0.7");
    EXPECT_EQ(scanned->name, "Test Desk");

    // The phone asks; the test presses "Allow" on the prompt.
    RemoteClient phone("127.0.0.1", scanned->port, scanned->fingerprint, phoneTiming());
    Outcome<std::string> paired;
    phone.pair(scanned->token, "Test Phone", paired.completion());
    auto prompt = testing::waitForVisiblePrompt(kLimit);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->box()->windowTitle(), "Pair “Test Phone”?");
    EXPECT_EQ(prompt->button(0)->text(), "Deny");
    EXPECT_EQ(prompt->button(1)->text(), "Allow");
    EXPECT_TRUE(prompt->button(0)->isDefault());
    EXPECT_FALSE(prompt->button(1)->isDefault());
    if (const char* docs = std::getenv("MURRELO_SCREENSHOT_DIR")) {
        testing::pumpEventsFor(300ms);
        std::system(("import -window " + std::to_string(prompt->box()->winId()) + " " + docs +
                     "/approval-prompt.png")
                        .c_str());
    }
    clickOn(prompt->button(1));
    ASSERT_TRUE(pumpUntil([&] { return paired.arrived(); }));
    ASSERT_TRUE(paired.value->ok()) << static_cast<int>(paired.value->error().kind);
    EXPECT_EQ(devices_->devices().size(), 1u);
    EXPECT_EQ(devices_->devices()[0].name, "Test Phone");
    EXPECT_TRUE(pumpUntil([&] { return !window_->isVisible(); }, 10s))
        << "an allowed pairing closes the window";

    // What the phone sends is typed where the focus is.
    auto receiver = testing::ReceiverProcess::startQt();
    ASSERT_TRUE(receiver);
    ASSERT_TRUE(receiver->focus());
    Outcome<void> sent;
    phone.sendText("typed from the phone", sent.completion());
    ASSERT_TRUE(pumpUntil([&] { return sent.arrived(); }));
    EXPECT_TRUE(sent.value->ok());
    EXPECT_EQ(receiver->waitForText("typed from the phone", 60s), "typed from the phone");
}

// The user allows a phone, but the data folder is full: the phone hears `internal`, the user is
// told in the prompt's place, and no half-written file is left.
TEST_F(PairingFlow, APairingThatCannotBeSavedIsShownWhereThePromptWas) {
    connection_.reset();
    services_.reset();
    testing::SmallDisk disk(data_.path(), 512 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    start();
    controller_->turnOn(true);
    ASSERT_TRUE(pumpUntil([&] { return window_ && !window_->shownLink().empty(); }))
        << "no code on screen; alerts: " << alerts_.size();
    const auto code = PairingPayload::decode(window_->shownLink());
    ASSERT_TRUE(code.ok());
    disk.fill();
    const auto before = std::distance(std::filesystem::directory_iterator(data_.path()),
                                      std::filesystem::directory_iterator());

    RemoteClient phone("127.0.0.1", code->port, code->fingerprint, phoneTiming());
    Outcome<std::string> paired;
    phone.pair(code->token, "Test Phone", paired.completion());
    auto prompt = testing::waitForVisiblePrompt(kLimit);
    ASSERT_TRUE(prompt);
    clickOn(prompt->button(1));
    ASSERT_TRUE(pumpUntil([&] { return paired.arrived(); }));
    ASSERT_FALSE(paired.value->ok());
    EXPECT_EQ(paired.value->error(), RemoteClient::Failure::rejected("internal"));
    ASSERT_TRUE(pumpUntil([&] { return !alerts_.empty(); }, 10s));
    EXPECT_EQ(alerts_.back().rfind("Could not save the paired phone: ", 0), 0u) << alerts_.back();
    EXPECT_NE(alerts_.back().find("No space left on device"), std::string::npos) << alerts_.back();
    EXPECT_TRUE(devices_->devices().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data_.path()),
                            std::filesystem::directory_iterator()),
              before);
    EXPECT_FALSE(std::filesystem::exists(data_.path() / "devices.json"));
    connection_.reset();
    services_.reset();
}

TEST_F(PairingFlow, ReturnDeniesAndClosingWithdrawsTheCode) {
    controller_->turnOn(true);
    ASSERT_TRUE(pumpUntil([&] { return window_ && !window_->shownLink().empty(); }));
    const auto first = PairingPayload::decode(scanScreen("first.png"));
    ASSERT_TRUE(first.ok());

    // Return on the prompt presses "Deny".
    RemoteClient phone("127.0.0.1", first->port, first->fingerprint, phoneTiming());
    Outcome<std::string> denied;
    phone.pair(first->token, "Stranger", denied.completion());
    auto prompt = testing::waitForVisiblePrompt(kLimit);
    ASSERT_TRUE(prompt);
    giveFocus(prompt->box());
    testing::fakeKey(36, true);
    testing::fakeKey(36, false);
    ASSERT_TRUE(pumpUntil([&] { return denied.arrived(); }));
    ASSERT_FALSE(denied.value->ok());
    EXPECT_EQ(denied.value->error(),
              RemoteClient::Failure::rejected(std::string(rawValue(RemoteError::pairingRejected))));
    EXPECT_TRUE(devices_->devices().empty());
    EXPECT_FALSE(prompt->box()->isVisible());

    // A fresh code, photographed, then the window closed: the code no longer works.
    window_->close();
    controller_->showPairingWindow();
    ASSERT_TRUE(pumpUntil(
        [&] { return window_->isVisible() && window_->shownLink() != first->encoded(); }));
    const auto second = PairingPayload::decode(scanScreen("second.png"));
    ASSERT_TRUE(second.ok());
    EXPECT_NE(second->token, first->token);
    window_->window()->close();
    EXPECT_FALSE(window_->isVisible());
    RemoteClient late("127.0.0.1", second->port, second->fingerprint, phoneTiming());
    Outcome<std::string> withdrawn;
    late.pair(second->token, "Late Phone", withdrawn.completion());
    ASSERT_TRUE(pumpUntil([&] { return withdrawn.arrived(); }));
    ASSERT_FALSE(withdrawn.value->ok());
    EXPECT_EQ(withdrawn.value->error(),
              RemoteClient::Failure::rejected(std::string(rawValue(RemoteError::tokenInvalid))));
    EXPECT_TRUE(NonModalPrompt::live().empty()) << "no prompt for a withdrawn code";
}

// The prompt's own promises: one answer at most, -1 for closing or dismissing, kept alive while
// shown, and what a phone names itself shown as text, never as markup.
TEST(NonModalPrompts, AnswerOnceAndShowTextAsTyped) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
    testing::widgetsApplication();
    std::vector<int> answers;
    auto prompt = NonModalPrompt::make("Title <b>bold</b>", "a & b", {"One", "Two", "Three"},
                                       [&](int tag) { answers.push_back(tag); });
    std::weak_ptr<NonModalPrompt> weak = prompt;
    prompt->present();
    prompt.reset();
    ASSERT_FALSE(weak.expired()) << "kept alive while shown";
    auto shown = weak.lock();
    EXPECT_TRUE(shown->box()->text().contains("&lt;b&gt;bold&lt;/b&gt;"));
    EXPECT_TRUE(shown->box()->informativeText().contains("a &amp; b"));
    shown->button(2)->click();
    shown->button(1)->click();
    shown->dismiss();
    EXPECT_EQ(answers, std::vector<int>{2});
    EXPECT_TRUE(NonModalPrompt::live().empty());
    shown.reset();
    EXPECT_TRUE(weak.expired()) << "released once answered";

    std::vector<bool> approvals;
    auto approval = NonModalPrompt::approval("Pair?", "From here.", "Allow", "Deny",
                                             [&](bool allowed) { approvals.push_back(allowed); });
    approval->present();
    ASSERT_TRUE(pumpUntil([&] { return approval->box()->isVisible(); }, 10s));
    approval->box()->close();
    approval->button(1)->click();
    auto confirm = NonModalPrompt::confirm("Remove?", "Gone.", "Remove", "Cancel",
                                           [&](bool confirmed) { approvals.push_back(confirmed); });
    confirm->present();
    confirm->button(0)->click();
    EXPECT_EQ(approvals, (std::vector<bool>{false, true}));
    EXPECT_FALSE(confirm->box()->isVisible());
}

}  // namespace
}  // namespace kestrune
