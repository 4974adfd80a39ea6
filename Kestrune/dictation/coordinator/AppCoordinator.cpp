#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "Kestrune/common/Trimming.hpp"
#include "Kestrune/dictation/coordinator/RecordingPanel.hpp"
#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/dictation/keys/RecordingReleasePollPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerKeySource.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

// Fn: no hold confirmation, since it is no shortcut modifier.
constexpr std::int64_t kFnKeyCode = 63;

bool isFn(const TriggerKey& key) {
    return key.kind() == TriggerKey::Kind::modifier && key.keyCode() == kFnKeyCode;
}

}  // namespace

std::string AppCoordinator::listeningText() {
    return localized("Listening...");
}

std::string AppCoordinator::accessibilityText() {
    return localized("Enable Accessibility permission for Murrelo");
}

std::string AppCoordinator::unwatchableKeyText(const TriggerKey& key) {
    return localizedFormat("%s can't be watched on this computer — choose another key in Settings.",
                           {KeyCatalog::name(key.keyCode())});
}

AppCoordinator::AppCoordinator(Dependencies dependencies) : deps_(std::move(dependencies)) {
    auto& keys = deps_.triggerKeys;
    if (!keys.isRunning()) keys.setTriggerKey(deps_.settings.triggerKey());
    // Events come on the main queue already, in the order they happened, so they are handled at
    // once: a hop would let other input overtake the press it belongs to.
    keys.setEvents({
        .pressed = lifetime_.guard([this] {
            if (!controlHeld_) handleTriggerPressed(true);
        }),
        .released = lifetime_.guard([this] {
            if (!controlHeld_) handleTriggerReleased();
        }),
        .otherInput = lifetime_.guard([this] { holdPolicy_.noteOtherInput(); }),
    });
}

AppCoordinator::~AppCoordinator() {
    cancelTriggerMonitorRetry();
    cancelTriggerReleasePolling();
    deps_.triggerKeys.stop();
    deps_.triggerKeys.setEvents({});
    deps_.speech.stopImmediately();
}

void AppCoordinator::start(bool promptForAccessibility) {
    // Nothing to ask the user for on this desktop: the X server either offers what we need or
    // does not, and the notice below says so.
    promptedForAccessibilityAtStart_ = promptForAccessibility;
    startTriggerKeyMonitor();
}

void AppCoordinator::stop() {
    cancelTriggerMonitorRetry();
    monitorPolicy_.noteStop();
    cancelTriggerReleasePolling();
    deps_.triggerKeys.stop();
    controlHeld_ = false;
    // A hold still being confirmed must not start a recording after the stop.
    holdPolicy_.endHold();
    // A recording cut off here must not be typed later, and must not keep the gate busy: a later
    // start would otherwise find every press refused.
    if (const auto attempt = recordingGate_.activeAttempt()) {
        recordingGate_.finish(*attempt);
        syncState();
        deps_.panel.hide();
    }
    deps_.speech.stopImmediately();
}

void AppCoordinator::updateTriggerKey(TriggerKey key) {
    auto& keys = deps_.triggerKeys;
    // The same key again still starts a source that gave up on it: the key may be free by now.
    if (deps_.settings.triggerKey() == key && keys.triggerKey() == key && keys.isRunning()) return;
    if (deps_.settings.triggerKey() != key) deps_.settings.setTriggerKey(key);
    if (keys.triggerKey() != key) {
        keys.stop();
        keys.setTriggerKey(key);
    }
    hasShownUnwatchableKeyMessage_ = false;
    if (!keys.isRunning()) {
        monitorPolicy_.reset();
        startTriggerKeyMonitor();
    }
}

void AppCoordinator::setFinalTextOverride(std::function<void(const std::string&)> override) {
    finalTextOverride_ = std::move(override);
}

void AppCoordinator::pressFromControl() {
    if (controlHeld_) return;
    controlHeld_ = true;
    handleTriggerPressed(false);
}

void AppCoordinator::releaseFromControl() {
    if (!controlHeld_) return;
    controlHeld_ = false;
    handleTriggerReleased();
}

void AppCoordinator::toggleFromControl() {
    if (controlHeld_) {
        releaseFromControl();
    } else {
        pressFromControl();
    }
}

// ---- the key source

void AppCoordinator::startTriggerKeyMonitor() {
    const auto started = deps_.triggerKeys.start();
    if (started) {
        monitorPolicy_.noteStart(true);
        cancelTriggerMonitorRetry();
        return;
    }
    if (started.error() == TriggerKeySource::StartFailure::keyUnwatchable) {
        giveUpOnTriggerKey();
        return;
    }
    monitorPolicy_.noteStart(false);
    showAccessibilityMessageIfNeeded();
    scheduleTriggerMonitorRetry();
}

void AppCoordinator::giveUpOnTriggerKey() {
    // Retrying cannot help: only another key can, and updateTriggerKey starts again.
    cancelTriggerMonitorRetry();
    monitorPolicy_.reset();
    showUnwatchableKeyMessageIfNeeded();
}

void AppCoordinator::scheduleTriggerMonitorRetry() {
    if (triggerMonitorRetryTask_) return;
    triggerMonitorRetryTask_ = deps_.main.postAfter(
        kMonitorRetryInterval, lifetime_.guard([this] { retryTriggerMonitor(); }));
}

void AppCoordinator::retryTriggerMonitor() {
    triggerMonitorRetryTask_.reset();
    const auto started = deps_.triggerKeys.start();
    if (started) {
        monitorPolicy_.noteStart(true);
        return;
    }
    if (started.error() == TriggerKeySource::StartFailure::keyUnwatchable) {
        giveUpOnTriggerKey();
        return;
    }
    monitorPolicy_.noteStart(false);
    scheduleTriggerMonitorRetry();
}

void AppCoordinator::cancelTriggerMonitorRetry() {
    if (triggerMonitorRetryTask_) deps_.main.cancel(*triggerMonitorRetryTask_);
    triggerMonitorRetryTask_.reset();
}

void AppCoordinator::showAccessibilityMessageIfNeeded() {
    if (!promptedForAccessibilityAtStart_ || hasShownAccessibilityMessage_) return;
    if (deps_.isAccessibilityTrusted && deps_.isAccessibilityTrusted()) return;
    hasShownAccessibilityMessage_ = true;
    showNotice(accessibilityText());
}

void AppCoordinator::showUnwatchableKeyMessageIfNeeded() {
    if (hasShownUnwatchableKeyMessage_) return;
    hasShownUnwatchableKeyMessage_ = true;
    showNotice(unwatchableKeyText(deps_.triggerKeys.triggerKey()));
}

// ---- press and release

void AppCoordinator::handleTriggerPressed(bool confirmHold) {
    const auto hold = holdPolicy_.beginHold();
    const auto key = deps_.triggerKeys.triggerKey();
    if (confirmHold && key.kind() == TriggerKey::Kind::modifier && !isFn(key)) {
        deps_.main.postAfter(kHoldConfirmationDelay, lifetime_.guard([this, hold] {
            if (holdPolicy_.shouldStartRecording(hold)) beginAttempt();
        }));
        return;
    }
    beginAttempt();
}

void AppCoordinator::beginAttempt() {
    const auto attempt = recordingGate_.press();
    syncState();
    // A previous recording is still stopping, refining or being typed.
    if (!attempt) return;
    startTriggerReleasePolling();
    if (hasGrantedPermissions_) return confirmRecording(*attempt);
    PermissionCoordinator::requestSpeechAndMicrophonePermissions(
        deps_.permissions, lifetime_.guard([this, attempt = *attempt](bool granted) {
            if (!granted) {
                if (recordingGate_.phase() == State::preparing && isCurrent(attempt)) {
                    recordingGate_.finish(attempt);
                }
                syncState();
                // Said even when the key was let go meanwhile: the user asked for a recording.
                showNotice(KestruneError::permissionsDenied().localizedDescription());
                return;
            }
            hasGrantedPermissions_ = true;
            confirmRecording(attempt);
        }));
}

void AppCoordinator::confirmRecording(RecordingGate::Attempt attempt) {
    const auto confirmation = recordingGate_.confirmRecording(attempt);
    syncState();
    if (confirmation != RecordingGate::Confirmation::record) return;

    currentTranscript_.clear();
    const auto started = deps_.speech.start(
        deps_.settings.language(), lifetime_.guard([this, attempt](const std::string& transcript) {
            if (!isCurrent(attempt)) return;
            currentTranscript_ = transcript;
            deps_.panel.show(transcript.empty() ? listeningText() : transcript);
        }),
        lifetime_.guard([this](float level) {
            deps_.panel.updateLevel(std::clamp(static_cast<double>(level), 0.0, 1.0));
        }),
        lifetime_.guard([this, attempt](const KestruneError& error) {
            // An old recording's failure must not end or cover a newer one.
            if (isCurrent(attempt)) fail(attempt, error);
        }));
    if (!started) return fail(attempt, started.error());
    deps_.panel.show(listeningText());
}

void AppCoordinator::handleTriggerReleased() {
    holdPolicy_.endHold();
    cancelTriggerReleasePolling();
    const auto action = recordingGate_.release();
    syncState();
    using Kind = RecordingGate::ReleaseAction::Kind;
    switch (action.kind) {
        case Kind::cancelPreparation:
            deps_.panel.hide();
            break;
        case Kind::stopRecording:
            finishRecording(*action.attempt);
            break;
        case Kind::nothing:
            break;
    }
}

void AppCoordinator::startTriggerReleasePolling() {
    if (triggerReleasePollTask_) return;
    triggerReleasePollTask_ = deps_.main.postAfter(
        kReleasePollInterval, lifetime_.guard([this] { pollTriggerRelease(); }));
}

void AppCoordinator::pollTriggerRelease() {
    triggerReleasePollTask_.reset();
    if (!RecordingReleasePollPolicy::shouldContinuePolling(recordingGate_)) return;
    if (!triggerIsDown()) return handleTriggerReleased();
    startTriggerReleasePolling();
}

void AppCoordinator::cancelTriggerReleasePolling() {
    if (triggerReleasePollTask_) deps_.main.cancel(*triggerReleasePollTask_);
    triggerReleasePollTask_.reset();
}

bool AppCoordinator::triggerIsDown() {
    // A control press has no key: the physical key is up while it holds.
    if (controlHeld_) return true;
    auto& keys = deps_.triggerKeys;
    return RecordingReleasePollPolicy::isTriggerKeyDown(keys.triggerKey(), keys.keyboardState());
}

// ---- after the release

void AppCoordinator::finishRecording(RecordingGate::Attempt attempt) {
    deps_.speech.stop(
        lifetime_.guard([this, attempt](Result<SpeechCaptureResult, KestruneError> outcome) {
            captureStopped(attempt, std::move(outcome));
        }));
    // An engine that transcribes only now takes a moment; say so instead of "Listening...".
    if (deps_.speech.isTranscribing()) {
        deps_.panel.show(SpeechRecognizerService::transcribingText());
    }
}

void AppCoordinator::captureStopped(RecordingGate::Attempt attempt,
                                    Result<SpeechCaptureResult, KestruneError> outcome) {
    if (!isCurrent(attempt)) return;
    if (!outcome) return fail(attempt, outcome.error());

    const std::string transcript(trimmedWhitespaceAndNewlines(outcome.value().transcript));
    std::vector<std::string> alternatives;
    for (const auto& alternative : outcome.value().alternatives) {
        const std::string trimmed(trimmedWhitespaceAndNewlines(alternative));
        if (!trimmed.empty() && trimmed != transcript) alternatives.push_back(trimmed);
    }
    currentTranscript_ = transcript;

    if (transcript.empty()) {
        recordingGate_.finish(attempt);
        syncState();
        deps_.panel.hide();
        return;
    }

    if (!deps_.settings.refinement().isEnabled) return deliver(attempt, transcript);
    // The refinement key may still be on its way from the key store; a refinement without it
    // would silently type the raw transcript.
    deps_.settings.whenKeysKnown(
        lifetime_.guard([this, attempt, transcript, alternatives = std::move(alternatives)](
                            Result<void, std::string> keys) mutable {
            if (!isCurrent(attempt)) return;
            if (!keys) return fail(attempt, KestruneError::llmFailed(keys.error()));
            refine(attempt, transcript, std::move(alternatives));
        }));
}

void AppCoordinator::refine(RecordingGate::Attempt attempt, const std::string& transcript,
                            std::vector<std::string> alternatives) {
    const auto configuration = deps_.settings.refinement();
    if (!configuration.isEnabled || configuration.firstEmptyField()) {
        return deliver(attempt, transcript);
    }
    if (!recordingGate_.beginRefining(attempt)) return syncState();
    syncState();
    deps_.panel.showRefining();
    deps_.refiner.refine({transcript, std::move(alternatives)}, deps_.settings.language(),
                         configuration, lifetime_.guard([this, attempt](LLMOutcome refined) {
                             if (!isCurrent(attempt)) return;
                             if (!refined) return fail(attempt, refined.error().asKestruneError());
                             deliver(attempt, refined.value());
                         }));
}

void AppCoordinator::deliver(RecordingGate::Attempt attempt, const std::string& text) {
    if (finalTextOverride_) {
        // A copy: the override may clear itself while it runs (its window closing).
        const auto override = finalTextOverride_;
        override(text);
        return succeed(attempt);
    }
    deps_.paste(text, lifetime_.guard([this, attempt](PasteOutcome pasted) {
        if (!isCurrent(attempt)) return;
        if (!pasted) return fail(attempt, pasted.error());
        succeed(attempt);
    }));
}

void AppCoordinator::fail(RecordingGate::Attempt attempt, const KestruneError& error) {
    recordingGate_.finish(attempt);
    syncState();
    showNotice(error.localizedDescription());
}

void AppCoordinator::succeed(RecordingGate::Attempt attempt) {
    recordingGate_.finish(attempt);
    syncState();
    deps_.panel.hide();
}

bool AppCoordinator::isCurrent(RecordingGate::Attempt attempt) const {
    return recordingGate_.activeAttempt() == attempt;
}

// ---- the panel

void AppCoordinator::showNotice(const std::string& text) {
    deps_.panel.show(text);
    deps_.panel.updateLevel(0);
    scheduleHUDDismissal();
}

void AppCoordinator::scheduleHUDDismissal() {
    // Not kept and never cancelled: each notice hides the panel 1.4 s after it, whatever shows
    // by then.
    deps_.main.postAfter(kPanelDismissalDelay, lifetime_.guard([this] { deps_.panel.hide(); }));
}

void AppCoordinator::syncState() {
    if (state_.value() != recordingGate_.phase()) state_.set(recordingGate_.phase());
}

}  // namespace kestrune
