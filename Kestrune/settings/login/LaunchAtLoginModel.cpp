#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kNotAvailableNote =
    "Not available here — Launch at Login works only from the installed app.";
constexpr std::string_view kApprovalNote =
    "Waiting for your approval — allow Murrelo in your desktop’s startup applications settings.";

}  // namespace

LaunchAtLoginModel::LaunchAtLoginModel(LoginItem loginItem) : loginItem_(std::move(loginItem)) {}

LoginItemStatus LaunchAtLoginModel::status() const {
    // Outside the installed application nothing may be changed, whatever the folder holds.
    if (!loginItem_.isAppBundle || !loginItem_.readStatus) return LoginItemStatus::unrecognised;
    return loginItem_.readStatus();
}

bool LaunchAtLoginModel::isOn() const {
    return loginItem_.isAppBundle && status() == LoginItemStatus::enabled;
}

bool LaunchAtLoginModel::isSwitchEnabled() const {
    return loginItem_.isAppBundle && status() != LoginItemStatus::unrecognised;
}

std::optional<std::string> LaunchAtLoginModel::note() const {
    if (failure_) return failure_;
    if (!loginItem_.isAppBundle) return localized(kNotAvailableNote);
    switch (status()) {
        case LoginItemStatus::notRegistered:
        case LoginItemStatus::enabled:
        case LoginItemStatus::notFound:
            return std::nullopt;
        case LoginItemStatus::requiresApproval:
            return localized(kApprovalNote);
        case LoginItemStatus::unrecognised:
            break;
    }
    return localized(kNotAvailableNote);
}

void LaunchAtLoginModel::set(bool on) {
    const LoginItemStatus current = status();
    failure_.reset();
    const bool mayRegister =
        current == LoginItemStatus::notRegistered || current == LoginItemStatus::notFound;
    const bool mayUnregister =
        current == LoginItemStatus::enabled || current == LoginItemStatus::requiresApproval;
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
