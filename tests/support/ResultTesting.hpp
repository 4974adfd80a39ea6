#pragma once

#include <optional>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune::testing {

// What a completion that hands back nothing reported, as tests compare and print it: none for
// success, else the failure.
template <typename E>
std::optional<E> failureOf(const Result<void, E>& result) {
    if (result) return std::nullopt;
    return result.error();
}

}  // namespace kestrune::testing
