#pragma once

#include <chrono>
#include <memory>

#include "platform/linux/qt/NonModalPrompt.hpp"
#include "tests/support/QtEventPump.hpp"

namespace kestrune::testing {

// The newest prompt once it is on screen; none when none shows within `limit`.
inline std::shared_ptr<NonModalPrompt> waitForVisiblePrompt(std::chrono::milliseconds limit) {
    std::shared_ptr<NonModalPrompt> prompt;
    pumpEventsUntil(
        [&] {
            auto live = NonModalPrompt::live();
            if (!live.empty() && live.back()->box()->isVisible()) prompt = live.back();
            return prompt != nullptr;
        },
        limit);
    return prompt;
}

}  // namespace kestrune::testing
