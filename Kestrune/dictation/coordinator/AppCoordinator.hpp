#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/common/KestruneError.hpp"
#include "Kestrune/dictation/SpeechCaptureResult.hpp"
#include "Kestrune/dictation/coordinator/DictationSettings.hpp"
#include "Kestrune/dictation/keys/RecordingGate.hpp"
#include "Kestrune/dictation/keys/RecordingMonitorStartPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerHoldPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/dictation/speech/PermissionCoordinator.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Published.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class LLMRefiner;
class RecordingPanel;
class SpeechRecognizerService;
class TriggerKeySource;

// Push-to-talk dictation from end to end: the trigger key (or the control entry points) starts a
// recording, its release stops it, the transcript is refined when refinement is set up, and the
// text is typed into the focused application or handed to the final-text override. The panel
// says what is happening.
//
// Threading: made, used and destroyed on `main`; every collaborator calls back there. Each
// waiting step (hold confirmation, permission question, stopping the recognizer, refinement,
// paste, timers) is a continuation on `main` that holds the coordinator only weakly: once the
// coordinator is gone it does nothing. Late answers for an abandoned recording are recognised by
// the recording gate's attempts and the hold policy's holds.
class AppCoordinator {
  public:
    using State = RecordingGate::Phase;
    using PasteOutcome = Result<void, KestruneError>;
    using PasteDone = std::function<void(PasteOutcome)>;

    // A modifier used in a shortcut (Alt+Tab) is released or joined by another key well within
    // this; a push-to-talk hold lasts longer.
    static constexpr Duration kHoldConfirmationDelay = std::chrono::milliseconds(250);
    // How often the key is checked during a recording, in case its release event is lost.
    static constexpr Duration kReleasePollInterval = std::chrono::milliseconds(80);
    // Watching the key needs the display's input extensions; this is how often we look again.
    static constexpr Duration kMonitorRetryInterval = std::chrono::seconds(1);
    // Long enough to read a short notice.
    static constexpr Duration kPanelDismissalDelay = std::chrono::milliseconds(1400);

    struct Dependencies {
        MainQueue& main;
        // Read: language, trigger key, refinement settings. Written: the trigger key.
        DictationSettings& settings;
        // Its events must arrive on `main`. Its key is set from the settings at construction.
        TriggerKeySource& triggerKeys;
        SpeechRecognizerService& speech;
        // The two questions asked before the first recording.
        PermissionCoordinator::Dependencies permissions;
        const LLMRefiner& refiner;
        RecordingPanel& panel;
        // Types a finished text into the focused application; `done` runs later on `main`.
        std::function<void(std::string text, PasteDone done)> paste;
        // Whether this session lets us watch keys and type (on X11: XTest and XInput 2).
        std::function<bool()> isAccessibilityTrusted;
    };

    explicit AppCoordinator(Dependencies dependencies);
    // Stops the key source and any recording; pending continuations then do nothing.
    ~AppCoordinator();
    AppCoordinator(const AppCoordinator&) = delete;
    AppCoordinator& operator=(const AppCoordinator&) = delete;

    // Called once after launch. `promptForAccessibility` is false when the welcome window is
    // about to explain permissions itself; the accessibility notice is then never shown.
    void start(bool promptForAccessibility);
    // Stops watching the key and ends any recording at once; nothing is typed afterwards.
    void stop();
    // The user chose another trigger key: stored, and the key source follows.
    void updateTriggerKey(TriggerKey key);
    // While set, final texts go to `override` instead of being typed; an empty function clears
    // it (the welcome window's test dictation).
    void setFinalTextOverride(std::function<void(const std::string&)> override);

    // The control surface (D-Bus, a window manager's key binding): the trigger key's press and
    // release without a key. A control press needs no hold confirmation, and while it holds the
    // release poll counts the key as down and the key's own events are ignored. A second press
    // before the release, or a release without a press, does nothing. Toggle presses when no
    // control press holds, else releases.
    void pressFromControl();
    void releaseFromControl();
    void toggleFromControl();

    // Always the recording gate's phase.
    const Published<State>& state() const { return state_; }
    RecordingMonitorStartPolicy::Status monitorStatus() const { return monitorPolicy_.status(); }
    bool hasGrantedPermissions() const { return hasGrantedPermissions_; }
    // The trimmed transcript of the last finished recording, or the running one.
    const std::string& currentTranscript() const { return currentTranscript_; }

    // The panel's texts: recording has begun (three full stops, as the panel shows it), keys
    // cannot be watched yet, `key` is one this desktop cannot watch (another application holds
    // it, or the keyboard cannot report it).
    static std::string listeningText();
    static std::string accessibilityText();
    static std::string unwatchableKeyText(const TriggerKey& key);

  private:
    void startTriggerKeyMonitor();
    void scheduleTriggerMonitorRetry();
    void retryTriggerMonitor();
    void cancelTriggerMonitorRetry();
    void giveUpOnTriggerKey();
    void showAccessibilityMessageIfNeeded();
    void showUnwatchableKeyMessageIfNeeded();

    void handleTriggerPressed(bool confirmHold);
    void beginAttempt();
    void confirmRecording(RecordingGate::Attempt attempt);
    void handleTriggerReleased();
    void startTriggerReleasePolling();
    void pollTriggerRelease();
    void cancelTriggerReleasePolling();
    bool triggerIsDown();

    void finishRecording(RecordingGate::Attempt attempt);
    void captureStopped(RecordingGate::Attempt attempt, Result<SpeechCaptureResult, KestruneError>);
    void deliver(RecordingGate::Attempt attempt, const std::string& text);
    void refine(RecordingGate::Attempt attempt, const std::string& transcript,
                std::vector<std::string> alternatives);
    void fail(RecordingGate::Attempt attempt, const KestruneError& error);
    void succeed(RecordingGate::Attempt attempt);
    bool isCurrent(RecordingGate::Attempt attempt) const;

    void showNotice(const std::string& text);
    void scheduleHUDDismissal();
    void syncState();

    Dependencies deps_;
    Published<State> state_{State::idle};
    RecordingGate recordingGate_;
    TriggerHoldPolicy holdPolicy_;
    RecordingMonitorStartPolicy monitorPolicy_;
    std::optional<TaskId> triggerMonitorRetryTask_;
    std::optional<TaskId> triggerReleasePollTask_;
    bool hasShownAccessibilityMessage_ = false;
    // Shown again after the user picks another key and then an unwatchable one again.
    bool hasShownUnwatchableKeyMessage_ = false;
    bool promptedForAccessibilityAtStart_ = true;
    std::string currentTranscript_;
    bool hasGrantedPermissions_ = false;
    std::function<void(const std::string&)> finalTextOverride_;
    bool controlHeld_ = false;
    // Last, so that it goes first: no continuation runs on a coordinator being destroyed.
    Lifetime lifetime_;
};

}  // namespace kestrune
