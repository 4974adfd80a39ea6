#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kNotAvailableNote =
    "Not available here — Launch at Login works only from the installed app.";

}  // namespace

LaunchAtLoginModel::LaunchAtLoginModel(LoginItem loginItem) : loginItem_(std::move(loginItem)) {}

LoginItemStatus LaunchAtLoginModel::status() const {
    // Outside the installed application nothing may be changed, whatever the folder holds.
    if (!loginItem_.isInstalled || !loginItem_.readStatus) return LoginItemStatus::unrecognised;
    return loginItem_.readStatus();
}

bool LaunchAtLoginModel::isOn() const {
    return loginItem_.isInstalled && status() == LoginItemStatus::enabled;
}

bool LaunchAtLoginModel::isSwitchEnabled() const {
    return loginItem_.isInstalled && status() != LoginItemStatus::unrecognised;
}

std::optional<std::string> LaunchAtLoginModel::note() const {
    if (failure_) return failure_;
    if (!loginItem_.isInstalled) return localized(kNotAvailableNote);
    switch (status()) {
        case LoginItemStatus::notRegistered:
        case LoginItemStatus::enabled:
            return std::nullopt;
        case LoginItemStatus::unrecognised:
            break;
    }
    return localized(kNotAvailableNote);
}

void LaunchAtLoginModel::set(bool on) {
    const LoginItemStatus current = status();
    failure_.reset();
    const bool mayRegister = current == LoginItemStatus::notRegistered;
    const bool mayUnregister = current == LoginItemStatus::enabled;
    Result<void, std::string> outcome;
    if (on && mayRegister && loginItem_.registerItem) {
        outcome = loginItem_.registerItem();
    } else if (!on && mayUnregister && loginItem_.unregisterItem) {
        outcome = loginItem_.unregisterItem();
    }
    if (!outcome) failure_ = outcome.error();
    changed_.notify();
}

void LaunchAtLoginModel::refresh() {
    failure_.reset();
    changed_.notify();
}

Subscription LaunchAtLoginModel::observeChanges(std::function<void()> observer) {
    return changed_.add(std::move(observer));
}

}  // namespace kestrune
