#pragma once

#include <chrono>

namespace kestrune::x11 {

// Marks the stretches in which this process injects key events, so that the trigger monitor does
// not count our own typing and pasting as the user's other input. Events reach the monitor a
// little after they are sent, so a short tail after each stretch counts too.
class OwnInjection {
  public:
    OwnInjection();
    ~OwnInjection();
    OwnInjection(const OwnInjection&) = delete;
    OwnInjection& operator=(const OwnInjection&) = delete;

    // How long after an injection its events may still arrive at the monitor.
    static constexpr std::chrono::milliseconds deliveryAllowance{250};

    static bool isActive();
};

}  // namespace kestrune::x11
