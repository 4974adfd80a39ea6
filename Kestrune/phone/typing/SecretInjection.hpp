#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"

namespace kestrune {

// Typing of one password and its optional Return, bound to the cancellation ticket that was
// current when it was made: a cancellation during the password-field check also cancels them.
// The injector must outlive it (the phone connection controller owns both for its whole life).
struct SecretInjection {
    std::function<void(std::string, DirectTextInjector::Completion)> type;
    std::function<void(std::uint16_t, DirectTextInjector::Completion)> press;

    static SecretInjection boundTo(DirectTextInjector& injector);
};

}  // namespace kestrune
