#pragma once

#include <memory>

#include "Kestrune/dictation/keys/TriggerKeySource.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::x11 {

// Watches the keyboard system-wide for the push-to-talk key and reports clean presses and
// releases, and other input while the key is down, on the main queue. Listens to XInput 2 raw
// events on the root window of a private connection (raw events do not auto-repeat); a dedicated
// trigger key is also grabbed, so that other applications never see it.
class TriggerKeyMonitor final : public TriggerKeySource {
  public:
    explicit TriggerKeyMonitor(MainQueue& main);
    ~TriggerKeyMonitor() override;
    TriggerKeyMonitor(const TriggerKeyMonitor&) = delete;
    TriggerKeyMonitor& operator=(const TriggerKeyMonitor&) = delete;

    void setEvents(Events events) override;
    void setTriggerKey(TriggerKey key) override;
    TriggerKey triggerKey() const override;

    // `sessionUnavailable` without a display or XInput 2; `keyUnwatchable` for a trigger X
    // cannot report (Fn, a keycode beyond the keyboard's) or a dedicated key another client grabs.
    Result<void, StartFailure> start() override;
    void stop() override;
    bool isRunning() const override;

    // The keyboard as the server reports it now.
    KeyboardState keyboardState() override;

    struct Impl;

  private:
    Events events_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace kestrune::x11
