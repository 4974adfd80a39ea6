#pragma once

#include <bitset>
#include <cstdint>
#include <optional>

#include "Kestrune/dictation/keys/TriggerKey.hpp"

namespace kestrune::x11 {

// What the trigger monitor makes of raw input: clean press and release of the trigger, and other
// input (another key, another modifier, a click) while it is down. Raw X input events carry no
// modifier flags of their own, so the device-dependent flags are kept from the keys seen.
class TriggerEventRules {
  public:
    enum class Notice { press, release, otherInput };

    explicit TriggerEventRules(TriggerKey key);

    // The X keycode that the trigger has, or none when X cannot report it (Fn).
    std::optional<int> triggerKeycode() const { return triggerKeycode_; }
    // Whether the trigger can be watched at all (a modifier trigger must be a catalogued modifier
    // with a flag mask, and every trigger needs an X keycode).
    bool isWatchable() const;
    // Whether clicks and other keys matter (modifier triggers other than Fn).
    bool watchesOtherInput() const;

    // A key went down or up. `ours` marks events this process injected: they update the key
    // state but are never the user's other input.
    std::optional<Notice> key(int xKeycode, bool down, bool ours);
    // A mouse button went down (X buttons: 1 left, 2 middle, 3 right, 8 and up extra; 4 to 7
    // are wheel steps, not clicks).
    std::optional<Notice> button(int xButton, bool ours);

    // Forgets the trigger's state (the monitor stopped); the next start begins from up.
    void reset();
    std::uint64_t modifierFlags() const;
    bool isKeyDown(int xKeycode) const;

  private:
    std::optional<Notice> transition(bool down);
    std::optional<Notice> otherInput() const;

    TriggerKey trigger_;
    std::optional<int> triggerKeycode_;
    std::bitset<256> pressed_;
    bool triggerIsDown_ = false;
};

}  // namespace kestrune::x11
