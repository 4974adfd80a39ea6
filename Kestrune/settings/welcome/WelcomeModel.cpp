#include "Kestrune/settings/welcome/WelcomeModel.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/SettingsStore.hpp"

namespace kestrune {

namespace {

// Keys of the interface's tables: the view shows them in the current language, so a language
// switch while the explanation is up translates it too.
constexpr std::string_view kWaylandRemedy =
    "This is a Wayland session without X11. Murrelo types and watches keys through X11: log in to "
    "an X11 session (at the login screen, e.g. “GNOME on Xorg”), then start Murrelo again.";
constexpr std::string_view kExtensionsRemedy =
    "Typing and key watching need an X11 display with the XTest and XInput extensions. Log in to "
    "an X11 session that offers them, then check again.";

}  // namespace

WelcomeModel::WelcomeModel(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      accessibilityGranted_(dependencies_.isTrusted && dependencies_.isTrusted()),
      speechHint_(dependencies_.speechHint ? dependencies_.speechHint() : std::nullopt) {}

bool WelcomeModel::shouldShowOnLaunch(const UserDefaults& defaults) {
    return !defaults.boolean(kWelcomeShownKey).value_or(false) &&
           !defaults.object(settings_keys::triggerKey).has_value();
}

void WelcomeModel::refreshAccessibility() {
    const bool granted = dependencies_.isTrusted && dependencies_.isTrusted();
    if (granted == accessibilityGranted_.value()) return;
    accessibilityGranted_.set(granted);
    if (granted && remedy_.value()) remedy_.set(std::nullopt);
}

void WelcomeModel::checkAgain() {
    refreshAccessibility();
    if (accessibilityGranted_.value()) return;
    const bool wayland = dependencies_.isWaylandOnly && dependencies_.isWaylandOnly();
    remedy_.set(std::string(wayland ? kWaylandRemedy : kExtensionsRemedy));
}

void WelcomeModel::refreshSpeechHint() {
    auto hint = dependencies_.speechHint ? dependencies_.speechHint() : std::nullopt;
    if (hint != speechHint_.value()) speechHint_.set(std::move(hint));
}

void WelcomeModel::showTranscript(std::string text) {
    lastTranscript_.set(std::move(text));
}

void WelcomeModel::windowClosed() {
    if (dependencies_.defaults) dependencies_.defaults->set(kWelcomeShownKey, true);
    lastTranscript_.set(std::nullopt);
}

}  // namespace kestrune
