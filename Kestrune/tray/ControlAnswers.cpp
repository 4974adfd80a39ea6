#include "Kestrune/tray/ControlAnswers.hpp"

#include <algorithm>

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
    alerts_ = deps_.phoneWindows.observeAlerts(lifetime_.guard([this](const std::string& text) {
        lastAlert_ = text;
        failPairingReplies(text);
    }));
}

ControlAnswers::~ControlAnswers() {
    failPairingReplies(localized("Murrelo quit before the pairing code appeared."));
    for (auto& waiting : std::exchange(settleReplies_, {})) {
        deps_.main.cancel(waiting.expiry);
        answer(waiting);
    }
    for (auto& waiting : std::exchange(storeReplies_, {})) {
        deps_.main.cancel(waiting.expiry);
        waiting.reply(Failure{localized("Murrelo quit before the clipboard was stored.")});
    }
}

void ControlAnswers::sendClipboardToPhone(StoredReply reply) {
    const auto token = nextToken_++;
    const TaskId expiry = deps_.main.postAfter(kStoreWait, lifetime_.guard([this, token] {
        answerStored(token, Failure{localizedFormat(
                                "The clipboard was not stored for the phone after %s seconds.",
                                {std::to_string(kStoreWait.count())})});
    }));
    storeReplies_.push_back({std::move(reply), expiry, token});
    deps_.phone.sendClipboardToPhone(
        lifetime_.guard([this, token](Result<void, std::string> stored) {
            if (stored) return answerStored(token, {});
            answerStored(token, Failure{std::move(stored.error())});
        }));
}

void ControlAnswers::answerStored(std::uint64_t token, Result<void, Failure> outcome) {
    const auto found = std::find_if(storeReplies_.begin(), storeReplies_.end(),
                                    [&](const auto& waiting) { return waiting.token == token; });
    if (found == storeReplies_.end()) return;
    auto waiting = std::move(*found);
    storeReplies_.erase(found);
    deps_.main.cancel(waiting.expiry);
    waiting.reply(std::move(outcome));
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
    lastAlert_.reset();
    // The menu's switch: it also undoes a turn-off asked for while starting.
    if (on != headingOn(deps_.phone.state())) deps_.phone.toggleFromMenu();
    answerOnceSettled(on, std::move(reply));
}

void ControlAnswers::togglePhoneConnection(StateReply reply) {
    lastAlert_.reset();
    const bool wantedOn = !headingOn(deps_.phone.state());
    deps_.phone.toggleFromMenu();
    answerOnceSettled(wantedOn, std::move(reply));
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
    // Once the change is carried out whole: a failed start's alert comes after its new state.
    deps_.main.post(lifetime_.guard([this] { answerSettledReplies(); }));
}

void ControlAnswers::answerOnceSettled(bool wantedOn, StateReply reply) {
    // A switch may settle others' waits too (an "off" while another caller waits for "on").
    answerSettledReplies();
    Settling waiting{std::move(reply), 0, wantedOn, nextToken_++};
    if (settled(wantedOn)) return answer(waiting);
    waiting.expiry = deps_.main.postAfter(
        wantedOn ? kStartWait : kStopWait,
        lifetime_.guard([this, token = waiting.token] { expireSettling(token); }));
    settleReplies_.push_back(std::move(waiting));
}

// An "on" waits for the start's outcome; an "off" waits while a stopping server is still up.
bool ControlAnswers::settled(bool wantedOn) const {
    const auto& state = deps_.phone.state();
    if (wantedOn)
        return !(std::holds_alternative<RemoteInputLifecycle::Starting>(state) && headingOn(state));
    return !(std::holds_alternative<RemoteInputLifecycle::On>(state) && stopAsked());
}

void ControlAnswers::answer(Settling& waiting) {
    const bool on = phoneConnection();
    if (waiting.wantedOn && !on) {
        return waiting.reply(Failure{
            lastAlert_.value_or(localized("Phone Connection was turned off before it started."))});
    }
    waiting.reply(on);
}

void ControlAnswers::answerSettledReplies() {
    std::vector<Settling> still;
    for (auto& waiting : std::exchange(settleReplies_, {})) {
        if (!settled(waiting.wantedOn)) {
            still.push_back(std::move(waiting));
            continue;
        }
        deps_.main.cancel(waiting.expiry);
        answer(waiting);
    }
    // Replies may have switched again and added waits of their own meanwhile.
    for (auto& waiting : still) settleReplies_.push_back(std::move(waiting));
}

void ControlAnswers::expireSettling(std::uint64_t token) {
    const auto found = std::find_if(settleReplies_.begin(), settleReplies_.end(),
                                    [&](const auto& waiting) { return waiting.token == token; });
    if (found == settleReplies_.end()) return;
    auto waiting = std::move(*found);
    settleReplies_.erase(found);
    waiting.reply(Failure{
        waiting.wantedOn ? localizedFormat("Phone Connection had not started after %s seconds.",
                                           {std::to_string(kStartWait.count())})
                         : localizedFormat("Phone Connection had not stopped after %s seconds.",
                                           {std::to_string(kStopWait.count())})});
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
        waiting.reply(Failure{why});
    }
}

bool ControlAnswers::stopAsked() const {
    return !deps_.defaults->boolean(RemoteInputController::kEnabledKey).value_or(false);
}

}  // namespace kestrune::tray
