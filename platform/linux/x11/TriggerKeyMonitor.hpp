#pragma once

#include <functional>
#include <memory>

#include "Kestrune/dictation/keys/FnReleasePollPolicy.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::x11 {

// Watches the keyboard system-wide for the push-to-talk key and reports clean presses and
// releases, and other input while the key is down, on the main queue. Listens to XInput 2 raw
// events on the root window of a private connection (raw events do not auto-repeat); a dedicated
// trigger key is also grabbed, so that other applications never see it.
class TriggerKeyMonitor {
  public:
    explicit TriggerKeyMonitor(MainQueue& main);
    ~TriggerKeyMonitor();
    TriggerKeyMonitor(const TriggerKeyMonitor&) = delete;
    TriggerKeyMonitor& operator=(const TriggerKeyMonitor&) = delete;

    std::function<void()> onPress;
    std::function<void()> onRelease;
    std::function<void()> onOtherInput;

    // Only while stopped.
    void setTriggerKey(TriggerKey key);
    TriggerKey triggerKey() const;

    // True when the monitor runs (also when it already did). False without a display, without
    // XInput 2, for a trigger X cannot report (Fn), or when another client holds the key.
    bool start();
    // Stops watching and forgets the down state; no release is reported.
    void stop();
    bool isRunning() const;

    // The keyboard as the server reports it now, for release polling.
    KeyboardState keyboardState();

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune::x11
