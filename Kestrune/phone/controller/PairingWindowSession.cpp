#include "Kestrune/phone/controller/PairingWindowSession.hpp"

#include "Kestrune/phone/controller/PhoneLinkServer.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"

namespace kestrune {

PairingWindowSession::PairingWindowSession(Dependencies dependencies)
    : deps_(std::move(dependencies)) {}

PairingWindowSession::~PairingWindowSession() {
    windowClose_.reset();
    window_.reset();
    deps_.main.cancel(refreshTask_);
}

void PairingWindowSession::show(PhoneLinkServer& server, std::uint16_t port,
                                const std::string& fingerprint) {
    const auto host = LocalAddress::pick(deps_.currentInterfaces(), deps_.primaryInterface());
    if (!host) {
        deps_.presentAlert(localized("This computer is not on a local network"),
                           localized("Connect to the same Wi-Fi as your phone, then try again."));
        return;
    }
    server_ = &server;
    if (!window_) {
        window_ = deps_.makeWindow();
        observeLanguageOnce();
    }
    windowClose_ = window_->observeClose(lifetime_.guard([this] { windowClosed(); }));
    std::optional<std::string> name;
    if (const auto computer = deps_.computerName()) name = PairingPayload::sanitizedName(*computer);
    link_ = [host = *host, port, fingerprint, name](const std::string& code) {
        return PairingPayload(host, port, fingerprint, code, name).encoded();
    };
    window_->present(*host + ":" + std::to_string(port));
    // Opening the window is the user's doing and counts as activity; renewals do not, so an open
    // window alone never keeps an idle connection alive.
    refreshCode(false);
    deps_.main.cancel(refreshTask_);
    scheduleRefresh();
}

void PairingWindowSession::close() {
    if (window_ && window_->isVisible()) window_->close();
}

void PairingWindowSession::scheduleRefresh() {
    refreshTask_ = deps_.main.postAfter(kRefreshInterval, lifetime_.guard([this] {
        refreshCode(true);
        scheduleRefresh();
    }));
}

void PairingWindowSession::refreshCode(bool isRefresh) {
    if (!server_) return;
    const auto shown = ++showing_;
    server_->issuePairingToken(!isRefresh,
                               lifetime_.guard([this, shown](std::optional<PairingToken> token) {
                                   // No code: the last one stays on screen and expires by itself.
                                   if (!token || shown != showing_ || !window_ || !link_) return;
                                   window_->showLink(link_(token->value));
                               }));
}

void PairingWindowSession::windowClosed() {
    deps_.main.cancel(refreshTask_);
    refreshTask_ = 0;
    ++showing_;
    link_ = nullptr;
    // A code photographed earlier stops working.
    if (server_) server_->invalidatePairingToken();
}

void PairingWindowSession::observeLanguageOnce() {
    if (observesLanguage_) return;
    languageObserver_ = deps_.observeLanguageChange(lifetime_.guard([this] {
        if (!window_ || window_->isVisible()) return;
        // Built again, in the new language, the next time it is shown.
        windowClose_.reset();
        window_.reset();
    }));
    observesLanguage_ = true;
}

}  // namespace kestrune
