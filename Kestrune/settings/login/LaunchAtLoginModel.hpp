#pragma once

#include <optional>
#include <string>

#include "Kestrune/settings/login/LoginItem.hpp"
#include "KestruneRemoteKit/Support/Observers.hpp"

namespace kestrune {

// The "Launch at Login" switch and the note under it. The status is read from the login item
// each time it is asked for (the user may change the autostart folder behind our back); only the
// last failure is kept here. Main queue only.
//
// A settings window uses it like this:
//   switch.checked  = model.isOn();   switch.enabled = model.isSwitchEnabled();
//   note.text       = model.note();   (hidden when none)
//   on toggle:        model.set(checked);
//   on activation:    model.refresh();
//   observeChanges(…) re-reads all three after each set() and refresh().
class LaunchAtLoginModel {
  public:
    explicit LaunchAtLoginModel(LoginItem loginItem);

    const LoginItem& loginItem() const { return loginItem_; }

    // On only for the installed application with our entry enabled.
    bool isOn() const;
    // Off when running from elsewhere than the installed application or when the facility gave
    // an answer we do not know: flipping the switch could not mean anything then.
    bool isSwitchEnabled() const;
    // The text under the switch, localized: the last failure, else why it cannot be used, else
    // none.
    std::optional<std::string> note() const;
    // The last failure's text, until the next set() or refresh().
    const std::optional<std::string>& failure() const { return failure_; }

    // Registers (on) or unregisters (off) when the current status allows that change; a failure
    // becomes the note. Observers are told in every case, so the switch snaps back to the truth.
    void set(bool on);
    // Forgets the last failure and tells observers to read the status again (the application
    // became active: the user may have changed things elsewhere).
    void refresh();

    Subscription observeChanges(std::function<void()> observer);

  private:
    LoginItemStatus status() const;

    LoginItem loginItem_;
    std::optional<std::string> failure_;
    Observers<> changed_;
};

}  // namespace kestrune
