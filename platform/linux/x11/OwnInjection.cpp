#include "platform/linux/x11/OwnInjection.hpp"

#include <atomic>

namespace kestrune::x11 {

namespace {
std::atomic<int> activeCount{0};
std::atomic<std::chrono::steady_clock::rep> lastEnd{0};
}  // namespace

OwnInjection::OwnInjection() {
    ++activeCount;
}

OwnInjection::~OwnInjection() {
    lastEnd = std::chrono::steady_clock::now().time_since_epoch().count();
    --activeCount;
}

bool OwnInjection::isActive() {
    if (activeCount > 0) return true;
    auto ended =
        std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastEnd));
    return std::chrono::steady_clock::now() - ended < deliveryAllowance;
}

}  // namespace kestrune::x11
