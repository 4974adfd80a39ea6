#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "tests/support/ResultTesting.hpp"

namespace kestrune::testing {

// Direct typing from a test thread: sends `text` and waits for the injector's outcome.
inline std::optional<DirectTextInjector::Failure> typeAndWait(DirectTextInjector& injector,
                                                              const std::string& text) {
    std::promise<std::optional<DirectTextInjector::Failure>> outcome;
    injector.send(DirectTextInjector::prepare(text), std::nullopt,
                  [&outcome](Result<void, DirectTextInjector::Failure> result) {
                      outcome.set_value(failureOf(result));
                  });
    return outcome.get_future().get();
}

// Presses one key the same way and waits for the outcome.
inline std::optional<DirectTextInjector::Failure> pressAndWait(DirectTextInjector& injector,
                                                               std::uint16_t key) {
    std::promise<std::optional<DirectTextInjector::Failure>> outcome;
    injector.press(key, std::nullopt, [&outcome](Result<void, DirectTextInjector::Failure> result) {
        outcome.set_value(failureOf(result));
    });
    return outcome.get_future().get();
}

}  // namespace kestrune::testing
