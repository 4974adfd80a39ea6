#include "Kestrune/tray/ControlAnswers.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/tray/ApplicationWindows.hpp"
#include "Kestrune/tray/PhoneWindowReports.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::tray {

namespace {

// Whether Phone Connection is on or on its way there: a start that was told to stop once up
// counts as off, as the user sees it.
bool headingOn(const RemoteInputLifecycle::State& state) {
    if (const auto* starting = std::get_if<RemoteInputLifecycle::Starting>(&state)) {
        return !starting->stopRequested;
    }
    return std::holds_alternative<RemoteInputLifecycle::On>(state);
}

}  // namespace

ControlAnswers::ControlAnswers(Dependencies dependencies) : deps_(std::move(dependencies)) {
    links_ = deps_.phoneWindows.observeLinks(
        lifetime_.guard([this](const std::string& link) { answerPairingReplies(link); }));
    alerts_ = deps_.phoneWindows.observeAlerts(
        lifetime_.guard([this](const std::string& text) { failPairingReplies(text); }));
}

ControlAnswers::~ControlAnswers() {
    failPairingReplies(localized("Murrelo quit before the pairing code appeared."));
    answerSettledReplies(/*timedOut=*/true);
}

void ControlAnswers::sendClipboardToPhone() {
    deps_.phone.sendClipboardToPhone();
}

// A start told to stop reaches `On` for a moment before its server stops; that is already off,
// as the answer to the toggle said.
bool ControlAnswers::phoneConnection() const {
    const auto& state = deps_.phone.state();
    if (std::holds_alternative<RemoteInputLifecycle::On>(state) && stopAsked() &&
        !deps_.phone.openedForSending()) {
        return false;
    }
    return headingOn(state);
}

void ControlAnswers::setPhoneConnection(bool on, StateReply reply) {
    // The menu's switch: it also undoes a turn-off asked for while starting.
    if (on != headingOn(deps_.phone.state())) deps_.phone.toggleFromMenu();
    answerOnceSettled(std::move(reply));
}

void ControlAnswers::togglePhoneConnection(StateReply reply) {
    deps_.phone.toggleFromMenu();
    answerOnceSettled(std::move(reply));
}

void ControlAnswers::showPairing(LinkReply reply) {
    const TaskId expiry = deps_.main.postAfter(kPairingLinkWait, lifetime_.guard([this] {
        failPairingReplies(localized("The pairing code did not appear in time."));
    }));
    pairingReplies_.push_back({std::move(reply), expiry});
    if (std::holds_alternative<RemoteInputLifecycle::On>(deps_.phone.state())) {
        deps_.phone.showPairingWindow();
    } else {
        deps_.phone.turnOn(/*thenPair=*/true);
    }
}

void ControlAnswers::dictationPress() {
    deps_.dictation.pressFromControl();
}

void ControlAnswers::dictationRelease() {
    deps_.dictation.releaseFromControl();
}

void ControlAnswers::toggleDictation() {
    deps_.dictation.toggleFromControl();
}

void ControlAnswers::openSettings() {
    deps_.windows.openSettings();
}

void ControlAnswers::showWelcome() {
    deps_.windows.showWelcome();
}

void ControlAnswers::quit() {
    deps_.windows.quit();
}

void ControlAnswers::phoneConnectionChanged() {
    answerSettledReplies(/*timedOut=*/false);
}

void ControlAnswers::answerOnceSettled(StateReply reply) {
    const auto& state = deps_.phone.state();
    if (!std::holds_alternative<RemoteInputLifecycle::On>(state) || !stopAsked()) {
        return reply(headingOn(state));
    }
    const TaskId expiry = deps_.main.postAfter(
        kStopWait, lifetime_.guard([this] { answerSettledReplies(/*timedOut=*/true); }));
    settleReplies_.push_back({std::move(reply), expiry});
}

void ControlAnswers::answerSettledReplies(bool timedOut) {
    if (settleReplies_.empty()) return;
    if (!timedOut && std::holds_alternative<RemoteInputLifecycle::On>(deps_.phone.state())) {
        return;
    }
    const bool now = headingOn(deps_.phone.state());
    for (auto& waiting : std::exchange(settleReplies_, {})) {
        deps_.main.cancel(waiting.expiry);
        waiting.reply(now);
    }
}

void ControlAnswers::answerPairingReplies(const std::string& link) {
    for (auto& waiting : std::exchange(pairingReplies_, {})) {
        deps_.main.cancel(waiting.expiry);
        waiting.reply(link);
    }
}

void ControlAnswers::failPairingReplies(const std::string& why) {
    for (auto& waiting : std::exchange(pairingReplies_, {})) {
        deps_.main.cancel(waiting.expiry);
        waiting.reply(LinkFailure{why});
    }
}

bool ControlAnswers::stopAsked() const {
    return !deps_.defaults->boolean(RemoteInputController::kEnabledKey).value_or(false);
}

}  // namespace kestrune::tray
