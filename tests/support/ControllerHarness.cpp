#include "tests/support/ControllerHarness.hpp"

#include <gtest/gtest.h>

#include "Kestrune/phone/typing/SecretInjection.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::testing {

ControllerHarness::ControllerHarness()
    : defaults(std::make_shared<UserDefaults>(folder.path(), "controller-test")) {
    L10n::shared().setLanguageOverride("en");
    RemoteInputController::Dependencies deps{
        .main = main,
        .defaults = defaults,
        .directory = folder.path(),
        .makeServer =
            [this](PhoneLinkServerSetup made,
                   std::function<void(Result<MadePhoneLinkServer, std::string>)> done) {
                ++serversMade;
                setup = std::move(made);
                main.post([this, done] {
                    if (makeFailure) return done(*makeFailure);
                    done(MadePhoneLinkServer{std::make_unique<ScriptedServer>(server),
                                             kFingerprint});
                });
            },
        .isAccessibilityTrusted = [this] { return trusted; },
        .presentAlert =
            [this](const std::string& title, const std::string& message) {
                alerts.push_back(title + "|" + message);
                if (onAlert) onAlert(title, message);
            },
        .showApproval =
            [this](ApprovalQuestion question, std::function<void(bool)> answer) {
                auto shown = std::make_shared<FakePrompt::Shown>(
                    FakePrompt::Shown{std::move(question), std::move(answer)});
                prompts.push_back(shown);
                return std::make_unique<FakePrompt>(shown);
            },
        .makePairingWindow =
            [this] {
                ++window->windowsMade;
                return std::make_unique<FakePairingWindow>(window);
            },
        .currentInterfaces = [this] { return interfaces; },
        .primaryInterface = [] { return std::optional<std::string>(); },
        .computerName = [] { return std::optional<std::string>("Desk"); },
        .observeLanguageChange =
            [this](std::function<void()> observer) {
                languageChanged = std::move(observer);
                return Subscription([this] { languageChanged = nullptr; });
            },
        .executor = executor,
        .injector = injector,
        .pasteQueue = pasteQueue,
        .readClipboard =
            [this](std::function<void(std::unique_ptr<ClipboardReader>)> done) {
                main.post([this, done] {
                    done(clipboard ? clipboard() : std::make_unique<TextClipboard>(clipboardText));
                });
            },
        .background = threads.executor(),
        .images = {},
        .loopbackOnly = false,
        .reportStoreProblem = {},
    };
    deps.images.askFileManager = [] { return FileManagerFolder::Answer::none(); };
    deps.images.commitImage = [](ClipboardImage::Prepared,
                                 std::function<void(Result<void, RemoteError>)> finished) {
        finished({});
    };
    deps.images.home = folder.path().string();
    deps.images.resolveOn = threads.executor();
    deps.images.workOn = threads.executor();
    controller_ = std::make_unique<RemoteInputController>(std::move(deps));
    devices = controller_->devices();
    outbox = controller_->outbox();
    statusSubscription_ = controller_->observeStatus([this](const auto&) { ++statusChanges; });
    feedbackSubscription_ = controller_->observeSendFeedback(
        [this](const std::string& line) { feedback.push_back(line); });
}

ControllerHarness::~ControllerHarness() {
    controller_.reset();
    L10n::shared().setLanguageOverride(std::nullopt);
}

RemoteCommandExecutor::Operations ControllerHarness::commandOperations() {
    return {
        .isTrusted = [this] { return trusted; },
        .usePaste = [this] { return defaults->boolean("remoteInputUsePaste").value_or(false); },
        .injectText =
            [this](std::string text, DirectTextInjector::Completion done) {
                injector.send(DirectTextInjector::Prepared(std::move(text)), std::nullopt,
                              std::move(done));
            },
        .paste = [this](std::string text,
                        RemoteCommandExecutor::Done done) { pasteQueue.enqueue(text, done); },
        .pressKey =
            [this](std::uint16_t key, DirectTextInjector::Completion done) {
                injector.press(key, std::nullopt, std::move(done));
            },
        .checkPasswordField = [](std::function<void(bool)> answer) { answer(true); },
        .beginSecret = [this] { return SecretInjection::boundTo(injector); },
    };
}

void ControllerHarness::settle() {
    while (main.runUntilIdle() > 0 || !threads.tasks.empty() || injectorQueue.runUntilIdle() > 0) {
        threads.runAll();
    }
}

void ControllerHarness::serverStarts(std::uint16_t port) {
    settle();
    ASSERT_TRUE(server->pendingStart) << "no start was asked for";
    std::exchange(server->pendingStart, {})(RemoteInputServer::StartResult(port));
    settle();
}

void ControllerHarness::serverStops(RemoteInputServer::StopReason reason) {
    ASSERT_TRUE(setup);
    owner().serverStopped(reason);
    settle();
}

RemoteInputServer::WeakOwner ControllerHarness::owner() const {
    return RemoteInputServer::WeakOwner(setup ? setup->owner
                                              : std::weak_ptr<RemoteInputServer::Owner>());
}

Uuid ControllerHarness::pairPhone(const std::string& name) {
    return devices->registerDevice(name, main.wallNow()).value().device.id;
}

std::string ControllerHarness::title() const {
    return RemoteInputController::toggleTitle(controller_->state(), controller_->openedForSending(),
                                              controller_->lastFailure());
}

}  // namespace kestrune::testing
