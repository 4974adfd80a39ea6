#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"

#include "KestruneRemoteKit/Support/Observers.hpp"

namespace kestrune::InterfaceLanguageSignal {

namespace {
Observers<>& observers() {
    static Observers<> shared;
    return shared;
}
}  // namespace

Subscription observe(std::function<void()> observer) {
    return observers().add(std::move(observer));
}

void announce() {
    observers().notify();
}

}  // namespace kestrune::InterfaceLanguageSignal
