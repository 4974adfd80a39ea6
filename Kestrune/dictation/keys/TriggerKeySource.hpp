#pragma once

#include <functional>

#include "Kestrune/dictation/keys/RecordingReleasePollPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// The system-wide source of push-to-talk key events, so that the dictation coordinator never sees
// the window system. Made by the composition root (the X11 trigger monitor on Linux); events run
// on the main queue the source was made with.
class TriggerKeySource {
  public:
    struct Events {
        std::function<void()> pressed;     // a clean press of the trigger key
        std::function<void()> released;    // its release
        std::function<void()> otherInput;  // another key, button or modifier while it is down
    };

    // Why the source did not start.
    enum class StartFailure {
        // The session offers no way to watch keys (no display, no input extension); it may
        // later, so starting is worth trying again.
        sessionUnavailable,
        // This key cannot be watched here: another application holds it, or the keyboard or the
        // platform cannot report it. Trying again does not help; another key does.
        keyUnwatchable,
    };

    virtual ~TriggerKeySource() = default;

    // Only while stopped.
    virtual void setEvents(Events events) = 0;
    virtual void setTriggerKey(TriggerKey key) = 0;
    virtual TriggerKey triggerKey() const = 0;

    // Succeeds when the source runs (also when it already did).
    virtual Result<void, StartFailure> start() = 0;
    // Stops watching and forgets the down state; no release is reported.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // The keyboard as the platform reports it now, for polling for a lost release.
    virtual KeyboardState keyboardState() = 0;
};

}  // namespace kestrune
