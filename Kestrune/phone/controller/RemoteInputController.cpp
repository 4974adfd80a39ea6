#include "Kestrune/phone/controller/RemoteInputController.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

// The controller as the server's owner: each request and notice goes to the part whose job it
// is. Held strongly by the controller alone, so the server's weak hold ends with the controller.
class RemoteInputController::ServerOwner final : public RemoteInputServer::Owner {
  public:
    explicit ServerOwner(RemoteInputController& controller) : controller_(controller) {}

    void approvePairing(RemoteInputServer::PairingRequest request,
                        std::function<void(bool)> reply) override {
        controller_.approval_.ask(std::move(request), std::move(reply));
    }
    void executeCommand(RemoteMessage command,
                        RemoteInputServer::CommandCompletion completion) override {
        controller_.deps_.executor.execute(command, std::move(completion));
    }
    void receiveImage(Bytes data, ImageFormat, bool save,
                      RemoteInputServer::ImageCompletion completion) override {
        controller_.imageDelivery_->receiveImage(std::move(data), save, std::move(completion));
    }
    void serverStopped(const RemoteInputServer::StopReason& reason) override {
        controller_.serverStopped(reason);
    }
    void approvalWithdrawn(const Uuid& request) override {
        controller_.approval_.withdraw(request);
    }
    void pushAcknowledged(const std::string& item) override {
        controller_.sending_.pushAcknowledged(item);
    }
    void secretRefused(const std::string& item) override {
        controller_.sending_.secretRefused(item);
    }
    // Shown where the approval prompt was: the user answered it and expects the phone to appear.
    void pairingNotSaved(const std::string& reason) override {
        controller_.deps_.presentAlert(
            localizedFormat("Could not save the paired phone: %s", {reason}), "");
    }

  private:
    RemoteInputController& controller_;
};

namespace {

ReceivedImageDelivery::Services imageServices(ReceivedImageDelivery::Services services,
                                              std::shared_ptr<UserDefaults> defaults,
                                              ReceivedImageDelivery::PresentAlert presentAlert) {
    services.preferences = [defaults = std::move(defaults)] {
        return ImageSaveLocation::Preferences{defaults->string(ImageSaveLocation::kDestinationKey),
                                              defaults->string(ImageSaveLocation::kFolderKey)};
    };
    services.presentAlert = std::move(presentAlert);
    return services;
}

}  // namespace

RemoteInputController::RemoteInputController(Dependencies dependencies)
    : deps_(std::move(dependencies)),
      devices_(std::make_shared<PairedDeviceStore>(deps_.directory / "devices.json",
                                                   deps_.reportStoreProblem)),
      outbox_(Outbox::create(deps_.directory / "outbox", deps_.main, Outbox::systemClock(),
                             deps_.reportStoreProblem)),
      pairingWindow_(PairingWindowSession::Dependencies{
          .main = deps_.main,
          .makeWindow = deps_.makePairingWindow,
          .currentInterfaces = deps_.currentInterfaces,
          .primaryInterface = deps_.primaryInterface,
          .computerName = deps_.computerName,
          .observeLanguageChange = deps_.observeLanguageChange,
          .presentAlert = deps_.presentAlert,
      }),
      approval_(PairingApproval::Dependencies{
          .main = deps_.main,
          .showApproval = deps_.showApproval,
          .onAllowed = [this] { pairingWindow_.close(); },
      }),
      sending_(SendToPhone::Dependencies{
          .main = deps_.main,
          .defaults = deps_.defaults,
          .devices = devices_,
          .outbox = outbox_,
          .readClipboard = deps_.readClipboard,
          .background = deps_.background,
          .onQueued = [this] { itemQueued(); },
      }),
      serverOwner_(std::make_shared<ServerOwner>(*this)) {
    // Made here, once the lifetime its alert is guarded by exists.
    imageDelivery_ = std::make_unique<ReceivedImageDelivery>(
        deps_.main, deps_.pasteQueue,
        imageServices(deps_.images, deps_.defaults,
                      lifetime_.guard([this](const std::string& title, const std::string& message) {
                          deps_.presentAlert(title, message);
                      })));
    // Both stores call back on whichever thread changed them (the server's, for acknowledgements
    // and connections): the step hops to the main queue first.
    const auto onMain = [&main = deps_.main](auto step) {
        return [&main, step] { main.post(step); };
    };
    outbox_->setOnChange(onMain(lifetime_.guard([this] { outboxDidChange(); })));
    devices_->setOnChange(onMain(lifetime_.guard([this] { deviceObservers_.notify(); })));
}

RemoteInputController::~RemoteInputController() {
    // The server goes first: its queue is joined, so nothing of it runs afterwards, and what it
    // already posted to the main queue finds its owner gone.
    server_.reset();
    outbox_->setOnChange(nullptr);
    devices_->setOnChange(nullptr);
}

Subscription RemoteInputController::observeStatus(std::function<void(const State&)> observer) {
    return statusObservers_.add(std::move(observer));
}

Subscription RemoteInputController::observeSendFeedback(
    std::function<void(const std::string&)> observer) {
    return sending_.observeFeedback(std::move(observer));
}

Subscription RemoteInputController::observeDevices(std::function<void()> observer) {
    return deviceObservers_.add(std::move(observer));
}

std::size_t RemoteInputController::waitingCount() const {
    return outbox_->count();
}

// ----- carrying out decisions ----------------------------------------------------------------

void RemoteInputController::notifyStatus() {
    statusObservers_.notify(lifecycle_.state);
}

void RemoteInputController::perform(const RemoteInputLifecycle::Actions& actions) {
    using Kind = RemoteInputLifecycle::Action::Kind;
    SendToPhoneServicePolicy::Actions policyActions;
    if (lifecycle_.isOff()) policyActions = servicePolicy_.serviceStopped(outbox_->count());
    notifyStatus();
    for (const auto& action : actions) {
        switch (action.kind) {
            case Kind::alert:
                deps_.presentAlert(action.title, action.message);
                break;
            case Kind::noteFailure:
                lastFailure_ = action.message;
                break;
            case Kind::start:
                deps_.main.post(lifetime_.guard([this] { startServer(); }));
                break;
            case Kind::stop:
                servicePolicy_.stopInFlight = true;
                if (server_) server_->stop();
                break;
            case Kind::showPairing:
                showPairingWindow();
                break;
        }
    }
    if (lifecycle_.on()) lastFailure_.reset();
    if (server_) server_->setOpenedForSending(servicePolicy_.openedForSending);
    performPolicy(policyActions);
}

// Neither turns the user's "remoteInputEnabled" on or off: the connection is the outbox's.
void RemoteInputController::performPolicy(const SendToPhoneServicePolicy::Actions& actions) {
    for (auto action : actions) {
        if (action == SendToPhoneServicePolicy::Action::turnOn) {
            perform(lifecycle_.turnOn(false, RemoteInputLifecycle::Origin::user));
        } else {
            perform(lifecycle_.turnOff());
        }
    }
}

// ----- the user's control --------------------------------------------------------------------

bool RemoteInputController::enabled() const {
    return deps_.defaults->boolean(kEnabledKey).value_or(false);
}

void RemoteInputController::turnOn(bool thenPair) {
    servicePolicy_.openedForSending = false;
    deps_.defaults->set(kEnabledKey, true);
    if (lifecycle_.isOff() && !deps_.isAccessibilityTrusted()) {
        lastFailure_.reset();
        deps_.presentAlert(
            localized("Accessibility permission needed"),
            localized("Phone Connection types into other apps, which this computer only allows "
                      "in an X11 session with the XTest and XInput extensions. Log in to an X11 "
                      "session, then turn Phone Connection on again."));
        notifyStatus();
        return;
    }
    lastFailure_.reset();
    perform(lifecycle_.turnOn(thenPair, RemoteInputLifecycle::Origin::user));
}

void RemoteInputController::turnOff(bool recordIntent) {
    if (recordIntent) {
        deps_.defaults->set(kEnabledKey, false);
        lastFailure_.reset();
    }
    perform(lifecycle_.turnOff());
}

void RemoteInputController::restoreIfEnabled() {
    if (!enabled() || !lifecycle_.isOff()) return;
    if (!deps_.isAccessibilityTrusted()) {
        lastFailure_ = localized("needs Accessibility permission — click to set it up");
        notifyStatus();
        return;
    }
    servicePolicy_.openedForSending = false;
    lastFailure_.reset();
    perform(lifecycle_.turnOn(false, RemoteInputLifecycle::Origin::automatic));
}

void RemoteInputController::toggleFromMenu() {
    // With the intent recorded but no permission, the menu item opens the explanation again while
    // its note is shown, and otherwise clears the intent.
    const bool mayStart =
        !(enabled() && !deps_.isAccessibilityTrusted()) || lastFailure_.has_value();
    if (const auto* starting = lifecycle_.starting()) {
        if (starting->stopRequested) return turnOn(false);
        return turnOff(true);
    }
    if (lifecycle_.on()) return turnOff(true);
    if (mayStart) return turnOn(false);
    turnOff(true);
}

void RemoteInputController::showPairingWindow() {
    const auto* on = lifecycle_.on();
    if (!on || !server_ || !fingerprint_) return;
    pairingWindow_.show(*server_, on->port, *fingerprint_);
}

void RemoteInputController::sendClipboardToPhone(
    std::function<void(Result<void, std::string>)> stored) {
    sending_.sendClipboard(std::move(stored));
}

void RemoteInputController::clearOutbox() {
    sending_.clearOutbox();
}

void RemoteInputController::cancelPendingText() {
    deps_.injector.bumpGeneration();
    deps_.pasteQueue.bumpGeneration();
    imageDelivery_->cancelPending();
}

Result<void, std::string> RemoteInputController::removeDevice(const Uuid& id) {
    if (auto removed = devices_->remove(id); !removed) return removed.error().message;
    cancelPendingText();
    outbox_->removeDevice(id);
    return {};
}

void RemoteInputController::idleTimeoutChanged() {
    if (!server_) return;
    const bool enabled = deps_.defaults->boolean(kIdleTimeoutEnabledKey).value_or(false);
    server_->setIdleTimeout(enabled ? std::optional(RemoteInputServer::kIdleTimeout)
                                    : std::nullopt);
}

// ----- the server ----------------------------------------------------------------------------

void RemoteInputController::startServer() {
    makeServerIfNeeded([this](Result<void, std::string> made) {
        if (!made) return perform(lifecycle_.startFailed(made.error()));
        server_->setOpenedForSending(servicePolicy_.openedForSending);
        server_->start(lifetime_.guard(
            [this](RemoteInputServer::StartResult result) { serverStarted(result); }));
    });
}

void RemoteInputController::serverStarted(const RemoteInputServer::StartResult& result) {
    if (!result) return perform(lifecycle_.startFailed(result.error().description()));
    const auto moved = notePortChange(result.value());
    perform(lifecycle_.startedOnPort(result.value()));
    if (moved) {
        if (lifecycle_.origin == RemoteInputLifecycle::Origin::automatic) {
            // After the start's own bookkeeping, which clears the note of an earlier failure.
            lastFailure_ = moved->second;
            notifyStatus();
        } else {
            deps_.presentAlert(moved->first, moved->second);
        }
    }
    outboxChanged();
}

void RemoteInputController::makeServerIfNeeded(
    std::function<void(Result<void, std::string> made)> done) {
    if (server_) return done({});
    PhoneLinkServerSetup setup;
    setup.directory = deps_.directory;
    setup.devices = devices_;
    setup.outbox = outbox_;
    setup.configure = [defaults = deps_.defaults, loopbackOnly = deps_.loopbackOnly](
                          TLSIdentity identity, std::string fingerprint) {
        return serverConfiguration(std::move(identity), std::move(fingerprint), *defaults,
                                   loopbackOnly);
    };
    setup.owner = serverOwner_;
    deps_.makeServer(std::move(setup),
                     lifetime_.guard([this, done = std::move(done)](
                                         Result<MadePhoneLinkServer, std::string> made) {
                         if (!made) return done(made.error());
                         server_ = std::move(made.value().server);
                         fingerprint_ = std::move(made.value().fingerprint);
                         if (made.value().newIdentity) announceNewIdentity();
                         done({});
                     }));
}

// Every phone paired before pins the old identity and fails at the TLS handshake, before this
// computer can tell it anything: the user is the one who must hear of it, and Settings shows
// which phones need pairing again.
void RemoteInputController::announceNewIdentity() {
    if (devices_->devices().empty()) return;
    if (auto marked = devices_->markAllNeedingNewPairing(); !marked) {
        log(LogLevel::error, "RemoteInputController",
            "could not save which phones need a new pairing: " + marked.error().message);
    }
    if (deps_.reportStoreProblem) {
        deps_.reportStoreProblem(
            {deps_.directory, localized("Phone Connection has a new identity: pair your phones "
                                        "again")});
    }
}

std::optional<std::pair<std::string, std::string>> RemoteInputController::notePortChange(
    std::uint16_t port) {
    const auto old = deps_.defaults->integer(kPortKey).value_or(0);
    deps_.defaults->set(kPortKey, std::int64_t{port});
    if (old <= 0 || old == port || devices_->devices().empty()) return std::nullopt;
    return std::pair{localized("Phone Connection moved to a new port"),
                     localizedFormat("Port %d was taken by another app, so it is now on port %d. "
                                     "Paired phones must scan a new pairing code to reconnect.",
                                     {old, port})};
}

void RemoteInputController::serverStopped(const RemoteInputServer::StopReason& reason) {
    pairingWindow_.close();
    approval_.dismiss();
    cancelPendingText();
    perform(lifecycle_.stopped(reason));
}

// ----- the outbox ----------------------------------------------------------------------------

void RemoteInputController::itemQueued() {
    if (server_) server_->noteSend();
    performPolicy(servicePolicy_.itemSent(lifecycle_.state));
}

void RemoteInputController::outboxDidChange() {
    if (server_) server_->outboxDidChange();
    outboxChanged();
}

void RemoteInputController::outboxChanged() {
    performPolicy(servicePolicy_.outboxChanged(outbox_->count(), lifecycle_.state));
}

RemoteInputServer::Configuration RemoteInputController::serverConfiguration(
    TLSIdentity identity, std::string fingerprint, const UserDefaults& defaults,
    bool loopbackOnly) {
    RemoteInputServer::Configuration configuration{.identity = std::move(identity)};
    if (defaults.boolean(kIdleTimeoutEnabledKey).value_or(false)) {
        configuration.idleTimeout = RemoteInputServer::kIdleTimeout;
    }
    configuration.loopbackOnly = loopbackOnly;
    configuration.preferredPort =
        RemoteInputServer::preferredPortFromSetting(defaults.integer(kPortKey).value_or(0));
    configuration.mdnsFingerprint = std::move(fingerprint);
    return configuration;
}

}  // namespace kestrune
