#pragma once

#include <functional>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// Tells whether the keyboard focus is in a password field, so that passwords are typed only
// there. The question may block for seconds (accessibility calls to another process), so it runs
// on a background queue and answers there.
class PasswordFieldDetector {
  public:
    // `isPasswordFieldFocused` is the platform's blocking query; `background` the queue it runs on.
    PasswordFieldDetector(std::function<bool()> isPasswordFieldFocused, MainQueue& background)
        : query_(std::move(isPasswordFieldFocused)), background_(background) {}

    void check(std::function<void(bool)> completion) {
        background_.post(
            [query = query_, completion = std::move(completion)] { completion(query && query()); });
    }

  private:
    std::function<bool()> query_;
    MainQueue& background_;
};

}  // namespace kestrune
