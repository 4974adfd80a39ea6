// The control interface's answers in virtual time, over the real Phone Connection controller (with
// a scripted server) and the real dictation coordinator (with stand-ins for the key, the
// microphone and the recognizer): what each request does, and when and what it answers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/tray/ApplicationWindows.hpp"
#include "Kestrune/tray/ControlAnswers.hpp"
#include "Kestrune/tray/PhoneWindowReports.hpp"
#include "tests/support/ControllerHarness.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"
#include "tests/support/SpeechFakes.hpp"

namespace kestrune::tray {
namespace {

using namespace std::chrono_literals;
using L = RemoteInputLifecycle;
using Stop = RemoteInputServer::StopReason;

struct RecordingWindows final : ApplicationWindows {
    void openSettings() override { calls.push_back("settings"); }
    void showWelcome() override { calls.push_back("welcome"); }
    void showAbout() override { calls.push_back("about"); }
    void quit() override { calls.push_back("quit"); }
    std::vector<std::string> calls;
};

// What a caller over the bus has heard so far.
struct Heard {
    std::vector<bool> states;
    std::vector<std::string> links;
    std::vector<std::string> failures;
    std::vector<std::string> stored;

    ControlAnswers::StateReply state() {
        return [this](Result<bool, ControlAnswers::Failure> on) {
            if (on.ok()) return states.push_back(on.value());
            failures.push_back(on.error().message);
        };
    }
    ControlAnswers::StoredReply store() {
        return [this](Result<void, ControlAnswers::Failure> done) {
            stored.push_back(done.ok() ? "stored" : done.error().message);
        };
    }
    ControlAnswers::LinkReply link() {
        return [this](Result<std::string, ControlAnswers::Failure> answer) {
            if (answer.ok()) return links.push_back(answer.value());
            failures.push_back(answer.error().message);
        };
    }
};

class ControlAnswersTest : public ::testing::Test {
  protected:
    ControlAnswersTest() {
        // As the Qt side's windows do: what they show is reported on.
        h.onAlert = [this](const std::string& title, const std::string& message) {
            reports.alertShown(title + " " + message);
        };
        h.window->onLink = [this](const std::string& link) { reports.linkShown(link); };
        phoneStatus = h.controller().observeStatus([this](const L::State&) {
            if (answers) answers->phoneConnectionChanged();
        });
        answers = std::make_unique<ControlAnswers>(ControlAnswers::Dependencies{
            .main = h.main,
            .phone = h.controller(),
            .defaults = h.defaults,
            .phoneWindows = reports,
            .dictation = coordinator,
            .windows = windows,
        });
    }

    ~ControlAnswersTest() override {
        answers.reset();
        h.destroyController();
    }

    bool reportedOn() const { return answers->phoneConnection(); }

    testing::ControllerHarness h;
    PhoneWindowReports reports;
    RecordingWindows windows;
    Heard heard;

    // Dictation on the same main queue.
    SettingsStore settings{std::make_shared<UserDefaults>(h.folder.path(), "zz.test.control"),
                           std::make_shared<InMemoryLLMKeyStore>(),
                           std::make_shared<InMemoryLLMKeyStore>(), h.main};
    testing::FakeTriggerKeySource keys;
    std::shared_ptr<testing::FakeCaptureLog> capture = std::make_shared<testing::FakeCaptureLog>();
    std::shared_ptr<testing::FakeSpeechEngine> engine =
        std::make_shared<testing::FakeSpeechEngine>();
    SpeechRecognizerService speech{
        {h.main, [this] { return std::make_unique<testing::FakeAudioCapture>(capture); },
         [this](AppLanguage) -> Result<std::shared_ptr<SpeechEngine>, KestruneError> {
             return std::shared_ptr<SpeechEngine>(engine);
         }}};
    LLMRefiner refiner{std::make_shared<testing::ScriptedHttpClient>(), h.main};
    testing::RecordingPanelLog panel;
    std::vector<std::string> typed;
    AppCoordinator coordinator{{
        .main = h.main,
        .settings = settings.forDictation(),
        .triggerKeys = keys,
        .speech = speech,
        .permissions = {h.main, [] { return true; },
                        [](std::function<void(bool)> answer) { answer(true); }},
        .refiner = refiner,
        .panel = panel,
        .paste =
            [this](std::string text, AppCoordinator::PasteDone done) {
                typed.push_back(std::move(text));
                done({});
            },
        .isAccessibilityTrusted = [] { return true; },
    }};

    std::unique_ptr<ControlAnswers> answers;
    Subscription phoneStatus;
};

TEST_F(ControlAnswersTest, OnAnswersOnceTheServerIsUpAndOffOnceItHasStopped) {
    EXPECT_FALSE(reportedOn());
    answers->setPhoneConnection(true, heard.state());
    EXPECT_TRUE(reportedOn()) << "starting reads as on";
    h.settle();
    EXPECT_TRUE(heard.states.empty()) << "not yet known to work";
    h.serverStarts(4300);
    EXPECT_EQ(heard.states, std::vector<bool>{true});
    // Asking for what already is changes nothing and is answered at once.
    answers->setPhoneConnection(true, heard.state());
    EXPECT_EQ(heard.states, (std::vector<bool>{true, true}));
    EXPECT_EQ(h.defaults->boolean(RemoteInputController::kEnabledKey), true);

    // The toggle stops the server; the caller hears "off" only once it has stopped, though the
    // status already reads off.
    answers->togglePhoneConnection(heard.state());
    EXPECT_EQ(h.server->calls.back(), "stop");
    EXPECT_EQ(heard.states.size(), 2u);
    EXPECT_FALSE(reportedOn());
    h.main.advance(ControlAnswers::kStopWait - 1ms);
    EXPECT_EQ(heard.states.size(), 2u);
    h.serverStops(Stop::requested());
    EXPECT_EQ(heard.states, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(h.defaults->boolean(RemoteInputController::kEnabledKey), false);

    // Its expiry was cancelled: nothing more is heard.
    h.main.advance(ControlAnswers::kStartWait);
    EXPECT_EQ(heard.states.size(), 3u);
    EXPECT_TRUE(heard.failures.empty());
}

// A start that fails is a failure with the alert's reason, never "on"; a start or stop that does
// not finish in its bound says so.
TEST_F(ControlAnswersTest, AFailedStartAndAnExhaustedWaitAreFailuresThatSayWhy) {
    h.makeFailure = "every port of the plan is taken";
    answers->setPhoneConnection(true, heard.state());
    h.settle();
    EXPECT_TRUE(heard.states.empty());
    EXPECT_EQ(heard.failures,
              std::vector<std::string>{
                  "Phone Connection could not start every port of the plan is taken"});
    EXPECT_FALSE(reportedOn());

    h.makeFailure.reset();
    answers->togglePhoneConnection(heard.state());
    h.settle();
    h.main.advance(ControlAnswers::kStartWait - 1ms);
    EXPECT_EQ(heard.failures.size(), 1u);
    h.main.advance(1ms);
    ASSERT_EQ(heard.failures.size(), 2u);
    EXPECT_EQ(heard.failures[1], "Phone Connection had not started after 90 seconds.");

    h.serverStarts(4300);
    answers->setPhoneConnection(false, heard.state());
    answers->togglePhoneConnection(heard.state());
    h.main.advance(ControlAnswers::kStopWait);
    EXPECT_EQ(heard.failures.size(), 4u) << "both hear the server has not stopped";
    EXPECT_EQ(heard.failures[3], "Phone Connection had not stopped after 10 seconds.");
    EXPECT_TRUE(heard.states.empty());
}

TEST_F(ControlAnswersTest, ATurnOffWhileStartingIsOffAtOnceAndTheStartStopsOnceUp) {
    answers->togglePhoneConnection(heard.state());
    h.settle();
    ASSERT_EQ(h.controller().state(), L::State(L::Starting{false, false}));
    answers->togglePhoneConnection(heard.state());
    // The first caller's start will not come: it hears so, and the second hears "off".
    EXPECT_EQ(heard.failures,
              std::vector<std::string>{"Phone Connection was turned off before it started."});
    EXPECT_EQ(heard.states, std::vector<bool>{false});
    EXPECT_FALSE(reportedOn());
    // Switched on again before the port is known: the start goes on.
    answers->setPhoneConnection(true, heard.state());
    EXPECT_TRUE(reportedOn());
    answers->setPhoneConnection(false, heard.state());
    EXPECT_EQ(heard.states, (std::vector<bool>{false, false}));
    EXPECT_EQ(heard.failures.size(), 2u);

    // Once up it stops at once; while it stops, it reads off, as the caller was told.
    h.serverStarts(4300);
    EXPECT_EQ(h.server->calls.back(), "stop");
    EXPECT_FALSE(reportedOn());
    h.serverStops(Stop::requested());
    EXPECT_FALSE(reportedOn());
    EXPECT_EQ(heard.states.size(), 2u);
}

TEST_F(ControlAnswersTest, PairingTurnsOnAndAnswersWithTheLinkTheWindowShows) {
    answers->showPairing(heard.link());
    h.serverStarts(4300);
    ASSERT_TRUE(h.window->visible);
    EXPECT_TRUE(heard.links.empty()) << "no code on screen yet";
    ASSERT_EQ(h.server->tokenRequests.size(), 1u);
    h.server->tokenRequests[0].second(PairingToken{"aaaa", h.main.wallNow() + 60s});
    ASSERT_EQ(h.window->links.size(), 1u);
    EXPECT_EQ(heard.links, h.window->links);
    EXPECT_TRUE(reportedOn());

    // Asked again while on: the open window's next code answers.
    answers->showPairing(heard.link());
    ASSERT_EQ(h.server->tokenRequests.size(), 2u);
    h.server->tokenRequests[1].second(PairingToken{"bbbb", h.main.wallNow() + 60s});
    ASSERT_EQ(heard.links.size(), 2u);
    EXPECT_EQ(heard.links[1], h.window->links.back());
    EXPECT_NE(heard.links[1], heard.links[0]);
    EXPECT_TRUE(heard.failures.empty());
}

TEST_F(ControlAnswersTest, APairingWhoseStartFailsOrWhoseCodeNeverComesHearsWhy) {
    h.makeFailure = "no room for the certificate";
    answers->showPairing(heard.link());
    h.settle();
    ASSERT_EQ(heard.failures.size(), 1u);
    EXPECT_EQ(heard.failures[0], "Phone Connection could not start no room for the certificate");

    // Without a local network the window cannot show: the alert is the answer.
    h.makeFailure.reset();
    h.interfaces = {{"lo", "127.0.0.1"}};
    answers->showPairing(heard.link());
    h.serverStarts(4300);
    ASSERT_EQ(heard.failures.size(), 2u);
    EXPECT_EQ(heard.failures[1].rfind("This computer is not on a local network", 0), 0u)
        << heard.failures[1];

    // A server that never hands out a code: the caller hears so after the wait.
    h.interfaces = {{"wlp2s0", "192.168.1.20"}};
    answers->showPairing(heard.link());
    h.settle();
    ASSERT_EQ(h.server->tokenRequests.size(), 1u);
    h.main.advance(ControlAnswers::kPairingLinkWait - 1s);
    EXPECT_EQ(heard.failures.size(), 2u);
    h.main.advance(1s);
    ASSERT_EQ(heard.failures.size(), 3u);
    EXPECT_EQ(heard.failures[2], "The pairing code did not appear in time.");
    EXPECT_TRUE(heard.links.empty());
}

TEST_F(ControlAnswersTest, AnswersStillWaitingWhenTheApplicationGoesAreGiven) {
    h.controller().turnOn(false);
    h.serverStarts(4300);
    answers->showPairing(heard.link());
    answers->setPhoneConnection(false, heard.state());
    EXPECT_TRUE(heard.states.empty());
    answers.reset();
    EXPECT_EQ(heard.failures,
              std::vector<std::string>{"Murrelo quit before the pairing code appeared."});
    EXPECT_EQ(heard.states, std::vector<bool>{false}) << "the state as it is: stopping";
    // Their expiries went with them.
    h.main.advance(ControlAnswers::kPairingLinkWait);
    EXPECT_EQ(heard.failures.size(), 1u);
    EXPECT_EQ(heard.states.size(), 1u);
}

TEST_F(ControlAnswersTest, DictationWindowsAndTheClipboardRequestsReachTheirParts) {
    settings.setSelectedLanguage(AppLanguage::english);
    coordinator.start(false);
    answers->dictationPress();
    h.main.runUntilIdle();
    ASSERT_EQ(coordinator.state().value(), AppCoordinator::State::recording);
    answers->dictationRelease();
    h.main.runUntilIdle();
    ASSERT_TRUE(engine->log->handlers.onResult);
    engine->log->handlers.onResult({"typed from a key binding", {}, true});
    h.main.advance(5s);
    EXPECT_EQ(coordinator.state().value(), AppCoordinator::State::idle);
    EXPECT_EQ(typed, std::vector<std::string>{"typed from a key binding"});
    answers->toggleDictation();
    h.main.runUntilIdle();
    EXPECT_EQ(coordinator.state().value(), AppCoordinator::State::recording);
    answers->toggleDictation();
    h.main.runUntilIdle();
    EXPECT_NE(coordinator.state().value(), AppCoordinator::State::recording);

    answers->openSettings();
    answers->showWelcome();
    answers->quit();
    EXPECT_EQ(windows.calls, (std::vector<std::string>{"settings", "welcome", "quit"}));

    // With no phone paired, sending says so instead of opening the connection, and the caller
    // hears it was not stored.
    answers->sendClipboardToPhone(heard.store());
    h.settle();
    const std::vector<std::string> noPhone{
        "No paired phone yet — pair one under Phone Connection first"};
    EXPECT_EQ(h.feedback, noPhone);
    EXPECT_EQ(heard.stored, noPhone);
    EXPECT_EQ(h.serversMade, 0);
}

}  // namespace
}  // namespace kestrune::tray
