#pragma once

#include <functional>

#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune::InterfaceLanguageSignal {

// The process-wide "Kestrune.interfaceLanguageDidChange": sent after the interface language was
// chosen and applied, so every open window relabels itself. Main thread only; observers run in
// the order they subscribed, inside `announce`.
Subscription observe(std::function<void()> observer);
void announce();

}  // namespace kestrune::InterfaceLanguageSignal
