// Removing a paired phone in the settings window, through the real Phone Connection: a connected
// phone loses its link at once and cannot come back; a removal that cannot be saved says so and
// changes nothing.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"
#include "KestruneRemoteKit/Client/Kit/SubscriptionClient.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "app/PhoneConnection.hpp"
#include "app/Root.hpp"
#include "app/Services.hpp"
#include "platform/linux/qt/NonModalPrompt.hpp"
#include "platform/linux/qt/QtMainQueue.hpp"
#include "shell/root/QtDesktop.hpp"
#include "shell/settings/ApplicationSettings.hpp"
#include "shell/settings/SettingsWindowController.hpp"
#include "tests/support/PromptWaiting.hpp"
#include "tests/support/QtTestApplication.hpp"
#include "tests/support/SettingsWindowTestSupport.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::find;
using testing::pumpUntil;

// Making the certificate with openssl and starting the server takes seconds; a loaded machine
// running sanitizers gets ten times that.
constexpr auto kLimit = 90s;

class PhoneRemoval : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        testing::widgetsApplication();
        L10n::shared().setLanguageOverride("en");
        services_ =
            std::make_unique<app::Services>(main_, app::Root::openSettings(settingsFolder_.path()));
        desktop_ = std::make_unique<QtDesktop>(services_->shellPlatform().fileManager);
        app::PhoneConnectionWindows windows{
            .presentAlert = [](const std::string&, const std::string&) {},
            .showApproval = qtApprovalPrompts(),
            .makePairingWindow = [] { return std::unique_ptr<PairingWindow>(); },
            .observeLanguageChange = [](std::function<void()>) { return Subscription(); },
            .computerName = [] { return std::optional<std::string>("Test Desk"); },
        };
        connection_ = std::make_unique<app::PhoneConnection>(
            services_->phoneConnectionPlatform(), main_, std::move(windows),
            app::PhoneConnection::Options{.directory = data_.path(),
                                          .advertise = false,
                                          .loopbackOnly = true,
                                          .interfaces = {},
                                          .primaryInterface = {},
                                          .reportStoreProblem = {}});
        controller_ = &connection_->controller();
        auto registration =
            controller_->devices()->registerDevice("Kit Phone", std::chrono::system_clock::now());
        ASSERT_TRUE(registration.ok());
        secret_ = registration.value().secret;

        const auto platform = services_->shellPlatform();
        platform.settings.defaults()->set(kSettingsLastPaneKey, std::string("phone"));
        settings_ = std::make_unique<ApplicationSettings>(
            ApplicationSettings::Dependencies{.main = main_,
                                              .settings = platform.settings,
                                              .phone = *controller_,
                                              .refiner = platform.refiner,
                                              .http = platform.http,
                                              .desktop = *desktop_,
                                              .compositorBindings = {}},
            ApplicationSettings::Callbacks{.onTriggerKeyChange = {},
                                           .onShowWelcome = {},
                                           .onHotKeyRecording = {},
                                           .launchAtLogin = {}});
        window_ = &settings_->window();
        window_->show();
    }

    void TearDown() override {
        settings_.reset();
        connection_.reset();
        desktop_.reset();
        services_.reset();
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    QWidget* pane() const {
        return find<QStackedWidget>(window_->window(), "settingsPanes")->currentWidget();
    }

    std::uint16_t startServer() {
        controller_->turnOn(false);
        EXPECT_TRUE(pumpUntil(
            [&] { return std::holds_alternative<RemoteInputLifecycle::On>(controller_->state()); },
            kLimit));
        return std::get<RemoteInputLifecycle::On>(controller_->state()).port;
    }

    std::string fingerprint() const {
        auto identity = TLSIdentityStore(data_.path()).load();
        EXPECT_TRUE(identity.ok());
        return identity.ok() ? identity.value().fingerprint : std::string();
    }

    testing::TemporaryDirectory data_{"murrelo-phone-removal"};
    testing::TemporaryDirectory settingsFolder_{"murrelo-phone-removal-settings"};
    QtMainQueue main_;
    std::unique_ptr<app::Services> services_;
    std::unique_ptr<QtDesktop> desktop_;
    std::unique_ptr<app::PhoneConnection> connection_;
    RemoteInputController* controller_ = nullptr;
    std::unique_ptr<ApplicationSettings> settings_;
    SettingsWindowController* window_ = nullptr;
    std::string secret_;
};

TEST_F(PhoneRemoval, ARemovedPhoneIsDisconnectedAtOnceAndCannotComeBack) {
    const auto port = startServer();
    SubscriptionClient subscriber(
        "127.0.0.1", port, fingerprint(), secret_,
        {.heartbeatInterval = 10s, .deadline = 60s, .connectTimeout = 60s});
    std::atomic<bool> connected = false;
    std::mutex lock;
    std::optional<SubscriptionClient::End> ended;
    subscriber.run([&] { connected = true; }, [](const ComputerPush&) { return true; },
                   [&](SubscriptionClient::End end) {
                       std::lock_guard guard(lock);
                       ended = end;
                   });
    ASSERT_TRUE(pumpUntil([&] { return connected.load(); }, kLimit));

    auto removes = pane()->findChildren<QPushButton*>();
    auto remove = std::find_if(removes.begin(), removes.end(),
                               [](auto* b) { return b->text() == "Remove…"; });
    ASSERT_NE(remove, removes.end());
    (*remove)->click();
    auto prompt = testing::waitForVisiblePrompt(kLimit);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->box()->windowTitle(), "Remove “Kit Phone”?");
    EXPECT_EQ(prompt->button(0)->text(), "Remove");
    prompt->button(0)->click();

    ASSERT_TRUE(pumpUntil(
        [&] {
            std::lock_guard guard(lock);
            return ended.has_value();
        },
        kLimit))
        << "the connected phone sees its link closed";
    EXPECT_TRUE(controller_->devices()->devices().empty());
    ASSERT_TRUE(pumpUntil([&] { return find<QLabel>(pane(), "noPairedPhones") != nullptr; }, 10s));

    RemoteClient again(
        "127.0.0.1", port, fingerprint(),
        {.replyTimeout = 60s, .approvalTimeout = 60s, .connectTimeout = 60s, .staleAfter = 300s});
    std::mutex helloLock;
    std::optional<Result<void, RemoteClient::Failure>> hello;
    again.hello(secret_, [&](Result<void, RemoteClient::Failure> result) {
        std::lock_guard guard(helloLock);
        hello.emplace(std::move(result));
    });
    ASSERT_TRUE(pumpUntil(
        [&] {
            std::lock_guard guard(helloLock);
            return hello.has_value();
        },
        kLimit));
    ASSERT_FALSE(hello->ok()) << "the forgotten secret no longer opens a link";
    EXPECT_EQ(hello->error().kind, RemoteClient::Failure::Kind::rejected);
}

TEST_F(PhoneRemoval, ARemovalThatCannotBeSavedSaysSoAndKeepsThePhone) {
    // The devices file replaced by a folder: the store can no longer write it.
    const auto file = controller_->devices()->filePath();
    std::filesystem::remove(file);
    std::filesystem::create_directories(file / "blocked");
    ASSERT_TRUE(testing::waitUntilSettled(window_->window()));

    auto removes = pane()->findChildren<QPushButton*>();
    auto remove = std::find_if(removes.begin(), removes.end(),
                               [](auto* b) { return b->text() == "Remove…"; });
    ASSERT_NE(remove, removes.end());
    (*remove)->click();
    auto confirm = testing::waitForVisiblePrompt(kLimit);
    ASSERT_TRUE(confirm);
    confirm->button(0)->click();
    std::shared_ptr<NonModalPrompt> failure;
    ASSERT_TRUE(pumpUntil([&] {
        for (auto& live : NonModalPrompt::live()) {
            if (live != confirm && live->box()->isVisible()) failure = live;
        }
        return failure != nullptr;
    }));
    EXPECT_EQ(failure->box()->windowTitle(), "Could not remove “Kit Phone”");
    EXPECT_FALSE(failure->box()->informativeText().isEmpty());
    EXPECT_EQ(controller_->devices()->devices().size(), 1u);
    EXPECT_EQ(settings_->phoneModel().devices().value().size(), 1u);
    EXPECT_EQ(find<QLabel>(pane(), "noPairedPhones"), nullptr) << "the list is unchanged";
    failure->dismiss();
}

}  // namespace
}  // namespace kestrune
