// The phone connection controller on a manual main queue, with a scripted server and the real
// paired-device store, outbox and settings.
#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "tests/support/ControllerHarness.hpp"
#include "tests/support/ResultTesting.hpp"
#include "tests/support/TestImages.hpp"

#include <algorithm>
#include <filesystem>

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::ControllerHarness;
using L = RemoteInputLifecycle;
using Stop = RemoteInputServer::StopReason;

class Controller : public ::testing::Test {
  protected:
    ControllerHarness h;
};

TEST_F(Controller, SendingWithTheConnectionOffOpensItOnlyUntilDelivered) {
    const Uuid phone = h.pairPhone();
    h.controller().sendClipboardToPhone();
    h.settle();
    EXPECT_EQ(h.controller().state(), L::State(L::Starting{false, false}));
    EXPECT_TRUE(h.controller().openedForSending());
    h.serverStarts(50000);
    EXPECT_EQ(h.title(), "Phone Connection — on to send, turns off when delivered (port 50000)");
    EXPECT_EQ(h.server->openedForSending.back(), true) << "the server knows to use its send idle";
    ASSERT_EQ(h.outbox->count(), 1u);

    // The phone acknowledges: the item leaves the outbox and the connection closes again.
    const std::string id = h.outbox->pending(phone).front().id;
    h.owner().pushAcknowledged(id);
    ASSERT_TRUE(h.outbox->acknowledge(id, phone));
    h.settle();
    EXPECT_EQ(h.feedback, std::vector<std::string>{"Sent to phone"});
    EXPECT_EQ(h.server->calls.back(), "stop");
    h.serverStops(Stop::requested());
    EXPECT_EQ(h.controller().state(), L::State(L::Off{}));
    EXPECT_FALSE(h.controller().openedForSending());
    EXPECT_EQ(h.title(), "Phone Connection");
    EXPECT_EQ(h.defaults->boolean(RemoteInputController::kEnabledKey), std::nullopt)
        << "the user's choice is untouched";
    EXPECT_TRUE(h.alerts.empty());
    h.main.advance(10s);
    EXPECT_EQ(h.feedback.size(), 1u) << "no not-connected line after the acknowledgement";
}

// The idle option changed in the settings reaches a running server at once, and nothing when
// there is no server.
TEST_F(Controller, IdleOptionChangesReachTheRunningServer) {
    h.controller().idleTimeoutChanged();
    h.controller().turnOn(false);
    h.serverStarts(4000);
    h.defaults->set(RemoteInputController::kIdleTimeoutEnabledKey, true);
    h.controller().idleTimeoutChanged();
    EXPECT_EQ(h.server->calls.back(), "setIdleTimeout 1800");
    h.defaults->set(RemoteInputController::kIdleTimeoutEnabledKey, false);
    h.controller().idleTimeoutChanged();
    EXPECT_EQ(h.server->calls.back(), "setIdleTimeout none");
    EXPECT_EQ(std::count_if(h.server->calls.begin(), h.server->calls.end(),
                            [](const auto& call) { return call.starts_with("setIdleTimeout"); }),
              2);
}

TEST_F(Controller, ItemSentWhileStoppingBringsTheConnectionBack) {
    const Uuid phone = h.pairPhone();
    h.controller().turnOn(false);
    h.serverStarts(4000);
    h.controller().turnOff(true);
    EXPECT_EQ(h.server->calls.back(), "stop");
    h.controller().sendClipboardToPhone();
    h.settle();
    h.serverStops(Stop::requested());
    EXPECT_EQ(h.controller().state(), L::State(L::Starting{false, false}));
    EXPECT_TRUE(h.controller().openedForSending());
    h.serverStarts(4000);
    EXPECT_EQ(h.outbox->pending(phone).size(), 1u);
    EXPECT_EQ(h.defaults->boolean(RemoteInputController::kEnabledKey), false);
}

TEST_F(Controller, TurningOffWhileStartingStopsOnceUp) {
    h.controller().turnOn(false);
    h.settle();
    EXPECT_EQ(h.title(), "Phone Connection — starting…");
    h.controller().toggleFromMenu();
    EXPECT_EQ(h.title(), "Phone Connection — starting… will turn off as soon as it is up");
    EXPECT_EQ(h.defaults->boolean(RemoteInputController::kEnabledKey), false);
    h.serverStarts(4100);
    EXPECT_EQ(h.server->calls, (std::vector<std::string>{"start", "stop"}));
    h.serverStops(Stop::requested());
    EXPECT_EQ(h.title(), "Phone Connection");
    EXPECT_TRUE(h.alerts.empty());
    // The menu item during such a stop turns it on again instead.
    h.controller().turnOn(false);
    h.controller().toggleFromMenu();
    h.controller().toggleFromMenu();
    EXPECT_EQ(h.controller().state(), L::State(L::Starting{false, false}));
}

TEST_F(Controller, FailedAutomaticStartIsAMenuNoteCutTo59Characters) {
    h.defaults->set(RemoteInputController::kEnabledKey, true);
    const std::string firstLine =
        "Could not load the identity because the certificate file is damaged beyond repair";
    h.makeFailure = firstLine + "\nsecond line";
    h.controller().restoreIfEnabled();
    h.settle();
    EXPECT_TRUE(h.alerts.empty());
    EXPECT_EQ(h.controller().state(), L::State(L::Off{}));
    EXPECT_EQ(h.title(), "Phone Connection — " + firstLine.substr(0, 59) + "…");

    // The user's own try gets the alert.
    h.controller().toggleFromMenu();
    h.settle();
    EXPECT_EQ(h.alerts,
              std::vector<std::string>{"Phone Connection could not start|" + *h.makeFailure});
    EXPECT_EQ(h.serversMade, 2) << "a failed making leaves nothing to reuse";
}

TEST_F(Controller, WithoutAccessibilityNothingStarts) {
    h.trusted = false;
    h.controller().turnOn(true);
    h.settle();
    ASSERT_EQ(h.alerts.size(), 1u);
    EXPECT_TRUE(h.alerts[0].starts_with("Accessibility permission needed|"));
    EXPECT_NE(h.alerts[0].find("X11 session"), std::string::npos);
    EXPECT_EQ(h.serversMade, 0);
    EXPECT_EQ(h.defaults->boolean(RemoteInputController::kEnabledKey), true);

    // At the next launch: a menu note, no alert, no start; the menu item then explains again.
    ControllerHarness next;
    next.trusted = false;
    next.defaults->set(RemoteInputController::kEnabledKey, true);
    next.controller().restoreIfEnabled();
    EXPECT_EQ(next.title(),
              "Phone Connection — needs Accessibility permission — click to set it up");
    next.controller().toggleFromMenu();
    EXPECT_EQ(next.alerts.size(), 1u);
    EXPECT_EQ(next.serversMade, 0);
}

TEST_F(Controller, PortChangeIsToldOnlyWhenAPhoneMustPairAgain) {
    h.defaults->set(RemoteInputController::kPortKey, std::int64_t{49999});
    h.controller().turnOn(false);
    h.serverStarts(50000);
    EXPECT_TRUE(h.alerts.empty()) << "no paired phone: nothing to tell";
    EXPECT_EQ(h.defaults->integer(RemoteInputController::kPortKey), 50000);

    // With a paired phone: the user's start alerts …
    h.pairPhone();
    h.defaults->set(RemoteInputController::kPortKey, std::int64_t{49999});
    h.controller().turnOff(true);
    h.serverStops(Stop::requested());
    h.controller().turnOn(false);
    h.serverStarts(50000);
    EXPECT_EQ(h.alerts, std::vector<std::string>{
                            "Phone Connection moved to a new port|Port 49999 was taken by another "
                            "app, so it is now on port 50000. Paired phones must scan a new "
                            "pairing code to reconnect."});
    EXPECT_EQ(h.title(), "Phone Connection — port 50000");

    // … and an automatic start notes it in the menu.
    ControllerHarness next;
    next.pairPhone();
    next.defaults->set(RemoteInputController::kPortKey, std::int64_t{49999});
    next.defaults->set(RemoteInputController::kEnabledKey, true);
    next.controller().restoreIfEnabled();
    next.serverStarts(50000);
    EXPECT_TRUE(next.alerts.empty());
    EXPECT_EQ(next.title(),
              "Phone Connection — port 50000 (changed — paired phones must pair again)");
}

TEST_F(Controller, ServerConfigurationFollowsTheSettings) {
    TLSIdentity identity(nullptr, nullptr);
    auto plain = RemoteInputController::serverConfiguration(identity, "fp", *h.defaults, false);
    EXPECT_EQ(plain.helloTimeout, Duration(10s));
    EXPECT_EQ(plain.idleTimeout, std::nullopt);
    EXPECT_EQ(plain.sendingIdleTimeout, Duration(1800s));
    EXPECT_EQ(plain.maxPendingConnections, 16u);
    EXPECT_EQ(plain.maxConnections, 8u);
    EXPECT_EQ(plain.closeGrace, Duration(2s));
    EXPECT_FALSE(plain.loopbackOnly);
    EXPECT_EQ(plain.preferredPort, std::nullopt);
    EXPECT_EQ(plain.mdnsFingerprint, "fp");
    EXPECT_EQ(plain.subscriptionDeadline, Duration(30s));

    h.defaults->set(RemoteInputController::kIdleTimeoutEnabledKey, true);
    h.defaults->set(RemoteInputController::kPortKey, std::int64_t{70000});
    auto configured = RemoteInputController::serverConfiguration(identity, "fp", *h.defaults, true);
    EXPECT_EQ(configured.idleTimeout, std::optional<Duration>(1800s));
    EXPECT_EQ(configured.preferredPort, 65535);
    EXPECT_TRUE(configured.loopbackOnly);
}

TEST_F(Controller, AcknowledgementsAndTheFiveSecondWait) {
    const Uuid phone = h.pairPhone();
    h.controller().turnOn(false);
    h.serverStarts(4200);
    h.clipboard = [] { return std::make_unique<testing::ConcealedClipboard>("hunter2"); };
    h.controller().sendClipboardToPhone();
    h.settle();
    EXPECT_EQ(h.server->calls.back(), "outboxDidChange") << "new items are pushed at once";
    h.main.advance(4900ms);
    EXPECT_TRUE(h.feedback.empty());
    h.main.advance(100ms);
    EXPECT_EQ(h.feedback, std::vector<std::string>{"Phone not connected — open the app within 10 "
                                                   "minutes to receive the password"});

    // A text acknowledged in time is reported once, and the wait then says nothing.
    h.feedback.clear();
    h.clipboard = nullptr;
    h.controller().sendClipboardToPhone();
    h.settle();
    const std::string text = h.outbox->pending(phone).back().id;
    h.main.advance(1s);
    h.owner().pushAcknowledged(text);
    h.main.advance(10s);
    EXPECT_EQ(h.feedback, std::vector<std::string>{"Sent to phone"});

    // A phone too old for passwords: while others still wait for it, and when it was the last.
    h.feedback.clear();
    h.clipboard = [] { return std::make_unique<testing::ConcealedClipboard>("pass"); };
    h.controller().sendClipboardToPhone();
    h.settle();
    const std::string secret = h.outbox->pending(phone).back().id;
    h.owner().secretRefused(secret);
    ASSERT_TRUE(h.outbox->acknowledge(secret, phone));
    h.owner().secretRefused(secret);
    h.main.advance(10s);
    EXPECT_EQ(h.feedback,
              (std::vector<std::string>{
                  "One paired phone’s app is too old to receive passwords — update it",
                  "The phone app is too old to receive passwords — update it and send again"}));
}

TEST_F(Controller, FeedbackForRefusalsAndMissingPhones) {
    h.controller().sendClipboardToPhone();
    h.settle();
    EXPECT_EQ(h.feedback, std::vector<std::string>{
                              "No paired phone yet — pair one under Phone Connection first"});
    EXPECT_EQ(h.serversMade, 0) << "nothing was queued, so nothing opens";
    h.clipboardText.clear();
    h.controller().sendClipboardToPhone();
    h.settle();
    EXPECT_EQ(h.feedback.back(), "The clipboard is empty");
}

std::optional<PairingPayload> decoded(const std::string& link) {
    auto payload = PairingPayload::decode(link);
    if (!payload) return std::nullopt;
    return payload.value();
}

PairingToken token(const std::string& value) {
    return PairingToken{value, std::chrono::system_clock::now() + 60s};
}

TEST_F(Controller, PairingWindowShowsRenewsAndWithdrawsTheCode) {
    h.controller().turnOn(true);
    h.serverStarts(4300);
    ASSERT_TRUE(h.window->visible) << "pairing was asked for while starting";
    EXPECT_EQ(h.window->address, "192.168.1.20:4300");
    ASSERT_EQ(h.server->tokenRequests.size(), 1u);
    EXPECT_TRUE(h.server->tokenRequests[0].first) << "opening the window is activity";
    h.server->tokenRequests[0].second(token("aaaa"));
    ASSERT_EQ(h.window->links.size(), 1u);
    const auto payload = decoded(h.window->links[0]);
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, PairingPayload("192.168.1.20", 4300, ControllerHarness::kFingerprint,
                                       "aaaa", "Desk"));

    // Two minutes open: two renewals, neither counting as activity; a refused renewal leaves the
    // code as it was.
    h.main.advance(120s);
    ASSERT_EQ(h.server->tokenRequests.size(), 3u);
    EXPECT_FALSE(h.server->tokenRequests[1].first);
    EXPECT_FALSE(h.server->tokenRequests[2].first);
    h.server->tokenRequests[1].second(std::nullopt);
    EXPECT_EQ(h.window->links.size(), 1u);
    h.server->tokenRequests[2].second(token("cccc"));
    ASSERT_EQ(h.window->links.size(), 2u);
    EXPECT_EQ(decoded(h.window->links[1])->token, "cccc");

    // Closing withdraws the code and stops the renewals; a late code is not drawn.
    h.main.advance(40s);
    ASSERT_EQ(h.server->tokenRequests.size(), 4u);
    h.window->userCloses();
    EXPECT_EQ(h.server->calls.back(), "invalidatePairingToken");
    h.server->tokenRequests[3].second(token("dddd"));
    h.main.advance(200s);
    EXPECT_EQ(h.server->tokenRequests.size(), 4u);
    EXPECT_EQ(h.window->links.size(), 2u);

    // The same window comes back; after a language change while closed, a new one is built.
    h.controller().showPairingWindow();
    EXPECT_EQ(h.window->windowsMade, 1);
    ASSERT_TRUE(h.languageChanged);
    h.languageChanged();
    EXPECT_EQ(h.window->windowsMade, 1) << "an open window stays";
    h.window->userCloses();
    h.languageChanged();
    h.controller().showPairingWindow();
    EXPECT_EQ(h.window->windowsMade, 2);
}

TEST_F(Controller, PairingWindowNeedsALocalNetworkAndARunningServer) {
    h.controller().showPairingWindow();
    EXPECT_EQ(h.window->windowsMade, 0) << "off: nothing happens";
    h.interfaces = {{"lo", "127.0.0.1"}, {"tun0", "10.8.0.2"}};
    h.controller().turnOn(true);
    h.serverStarts(4400);
    EXPECT_EQ(h.window->windowsMade, 0);
    EXPECT_EQ(h.alerts,
              std::vector<std::string>{"This computer is not on a local network|Connect "
                                       "to the same Wi-Fi as your phone, then try again."});
}

TEST_F(Controller, ApprovalPromptAnswersEachRequestOnce) {
    h.controller().turnOn(true);
    h.serverStarts(4500);
    std::vector<std::pair<int, bool>> replies;
    auto request = [&](int n) {
        const auto id = Uuid::random().value();
        h.owner().approvePairing({id, "Ana’s phone", "192.168.1.30"},
                                 [&replies, n](bool allowed) { replies.emplace_back(n, allowed); });
        return id;
    };
    request(1);
    ASSERT_EQ(h.prompts.size(), 1u);
    EXPECT_EQ(h.prompts[0]->question.title, "Pair “Ana’s phone”?");
    EXPECT_EQ(h.prompts[0]->question.message,
              "From 192.168.1.30. Only allow this if you just scanned the code with your own "
              "phone. A paired phone can type into this computer whenever Phone Connection is on.");
    EXPECT_EQ(h.prompts[0]->question.allowTitle, "Allow");
    EXPECT_EQ(h.prompts[0]->question.denyTitle, "Deny");

    // A newer request replaces the prompt: the older one is refused.
    const Uuid second = request(2);
    EXPECT_EQ(replies, (std::vector<std::pair<int, bool>>{{1, false}}));
    EXPECT_FALSE(h.prompts[0]->onScreen);
    h.owner().approvalWithdrawn(Uuid::random().value());
    EXPECT_TRUE(h.prompts[1]->onScreen) << "another request's withdrawal changes nothing";
    h.owner().approvalWithdrawn(second);
    EXPECT_FALSE(h.prompts[1]->onScreen);
    EXPECT_EQ(replies.back(), std::make_pair(2, false));
    h.settle();

    // Allowing closes the pairing window.
    ASSERT_TRUE(h.window->visible);
    request(3);
    auto answer = h.prompts[2]->answer;
    answer(true);
    h.settle();
    EXPECT_EQ(replies.back(), std::make_pair(3, true));
    EXPECT_EQ(replies.size(), 3u);
    EXPECT_FALSE(h.window->visible);

    // The server stopping takes a prompt away, refused.
    request(4);
    h.serverStops(Stop::idle());
    EXPECT_FALSE(h.prompts[3]->onScreen);
    EXPECT_EQ(replies.back(), std::make_pair(4, false));
}

TEST_F(Controller, CommandsAreTypedOrPasted) {
    h.controller().turnOn(false);
    h.serverStarts(4600);
    std::vector<std::optional<RemoteError>> outcomes;
    auto run = [&](RemoteMessage message) {
        h.owner().executeCommand(std::move(message), [&](Result<void, RemoteError> error) {
            outcomes.push_back(testing::failureOf(error));
        });
        h.settle();
    };
    run(RemoteMessage::Text{"hello\nthere"});
    run(RemoteMessage::Key{"RETURN"});
    h.defaults->set("remoteInputUsePaste", true);
    run(RemoteMessage::Text{"pasted"});
    run(RemoteMessage::Secret{"pw", true});
    h.trusted = false;
    run(RemoteMessage::Text{"nope"});
    EXPECT_EQ(h.typed,
              (std::vector<std::string>{"hello there", "key 36", "paste pasted", "pw", "key 36"}));
    EXPECT_EQ(outcomes, (std::vector<std::optional<RemoteError>>{
                            std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                            RemoteError::accessibilityMissing}));
}

TEST_F(Controller, ReceivedPicturesAreSavedAndCancelledWithTheConnection) {
    std::filesystem::create_directories(h.folder / "Pictures");
    h.defaults->set(ImageSaveLocation::kFolderKey, (h.folder / "Pictures").string());
    h.controller().turnOn(false);
    h.serverStarts(4800);
    const std::string png = testing::makeImage(32, 24, ".png", testing::Pattern::noise);
    std::vector<ImageOutcome> outcomes;
    auto receive = [&] {
        h.owner().receiveImage(
            Bytes(png.begin(), png.end()), ImageFormat::jpeg, true,
            [&](ImageOutcome outcome) { outcomes.push_back(std::move(outcome)); });
    };
    receive();
    h.settle();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].error, std::nullopt);
    ASSERT_TRUE(outcomes[0].saved);
    EXPECT_TRUE(outcomes[0].saved->ends_with(".png")) << "the bytes decide, not the phone's word";
    EXPECT_EQ(outcomes[0].savedIn, "~/Pictures");
    EXPECT_TRUE(std::filesystem::exists(h.folder / "Pictures" / *outcomes[0].saved));

    // The connection stops while the next picture waits: it is cancelled and nothing is written.
    receive();
    h.main.runUntilIdle();
    h.serverStops(Stop::idle());
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].error, RemoteError::cancelled);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(h.folder / "Pictures"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(Controller, RemovingAPhoneCancelsItsWorkAndDropsItsItems) {
    const Uuid phone = h.pairPhone();
    const Uuid other = h.pairPhone("Other");
    int deviceChanges = 0;
    const auto following = h.controller().observeDevices([&] { ++deviceChanges; });
    h.controller().turnOn(false);
    h.serverStarts(4900);
    h.controller().sendClipboardToPhone();
    h.settle();
    std::vector<std::optional<RemoteError>> outcomes;
    h.owner().executeCommand(RemoteMessage::Text{"queued"}, [&](Result<void, RemoteError> error) {
        outcomes.push_back(testing::failureOf(error));
    });
    h.main.runUntilIdle();  // queued for typing, not typed yet

    EXPECT_EQ(testing::failureOf(h.controller().removeDevice(phone)), std::nullopt);
    h.settle();
    h.injectorQueue.advance(1s);
    h.settle();
    EXPECT_EQ(outcomes, std::vector<std::optional<RemoteError>>{RemoteError::cancelled});
    EXPECT_TRUE(h.typed.empty());
    EXPECT_FALSE(h.devices->contains(phone));
    EXPECT_TRUE(h.outbox->pending(phone).empty());
    EXPECT_EQ(h.outbox->pending(other).size(), 1u) << "the other phone still gets it";
    EXPECT_GE(deviceChanges, 1);
}

// The application quits with a pairing prompt on screen and a picture being prepared: nothing of
// the controller runs afterwards, and the server's late callbacks are refused.
TEST_F(Controller, TeardownWithPromptAndPictureInFlight) {
    h.controller().turnOn(true);
    h.serverStarts(4700);
    bool replied = false;
    h.owner().approvePairing({Uuid::random().value(), "Phone", "192.168.1.40"},
                             [&](bool) { replied = true; });
    std::vector<ImageOutcome> pictures;
    const std::string png = testing::makeImage(32, 24, ".png", testing::Pattern::noise);
    h.owner().receiveImage(Bytes(png.begin(), png.end()), ImageFormat::png, true,
                           [&](ImageOutcome outcome) { pictures.push_back(std::move(outcome)); });
    h.main.runUntilIdle();
    ASSERT_FALSE(h.threads.tasks.empty()) << "the picture is being worked on";
    auto owner = h.owner();

    h.destroyController();
    EXPECT_FALSE(h.prompts[0]->onScreen);
    EXPECT_FALSE(replied) << "the prompt went without answering";
    EXPECT_FALSE(h.window->visible) << "the pairing window went too";
    h.settle();
    h.main.advance(60s);
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(pictures[0].error, RemoteError::internal);

    bool refused = false;
    owner.approvePairing({Uuid::random().value(), "Late", "x"},
                         [&](bool allowed) { refused = !allowed; });
    EXPECT_TRUE(refused);
    std::optional<RemoteError> command;
    owner.executeCommand(RemoteMessage::Text{"late"}, [&](Result<void, RemoteError> error) {
        command = testing::failureOf(error);
    });
    EXPECT_EQ(command, RemoteError::internal);
    owner.receiveImage(Bytes(png.begin(), png.end()), ImageFormat::png, false,
                       [&](ImageOutcome outcome) { pictures.push_back(std::move(outcome)); });
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[1].error, RemoteError::internal);
    owner.serverStopped(Stop::requested());
    owner.pushAcknowledged("X");
    h.settle();
    EXPECT_TRUE(h.typed.empty());
}

}  // namespace
}  // namespace kestrune
