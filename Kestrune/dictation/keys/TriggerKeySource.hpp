#pragma once

#include <functional>

#include "Kestrune/dictation/keys/RecordingReleasePollPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"

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

    virtual ~TriggerKeySource() = default;

    // Only while stopped.
    virtual void setEvents(Events events) = 0;
    virtual void setTriggerKey(TriggerKey key) = 0;
    virtual TriggerKey triggerKey() const = 0;

    // True when the source runs (also when it already did). False when the platform cannot report
    // this trigger, or another client holds the key.
    virtual bool start() = 0;
    // Stops watching and forgets the down state; no release is reported.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;

    // The keyboard as the platform reports it now, for polling for a lost release.
    virtual KeyboardState keyboardState() = 0;
};

}  // namespace kestrune
