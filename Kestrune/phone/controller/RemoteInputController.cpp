#include "Kestrune/phone/controller/RemoteInputController.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"

namespace kestrune {

namespace {

std::string describe(const Outbox::EnqueueError& error) {
    if (const auto* write = std::get_if<Outbox::WriteError>(&error)) return write->description;
    return localized("No paired phone yet — pair one under Phone Connection first");
}

}  // namespace

struct RemoteInputController::Impl : std::enable_shared_from_this<Impl>, RemoteInputServer::Owner {
    using Lifecycle = RemoteInputLifecycle;
    using Origin = Lifecycle::Origin;

    explicit Impl(Dependencies dependencies)
        : deps(std::move(dependencies)),
          main(deps.main),
          devices(std::make_shared<PairedDeviceStore>(deps.directory / "devices.json")),
          outbox(Outbox::create(deps.directory / "outbox", main)) {}

    // Wiring that needs the finished object (weak references to it).
    void connect() {
        std::weak_ptr<Impl> weak = weak_from_this();
        outbox->setOnChange([weak, &main = main] {
            // Runs on whichever thread changed the outbox (the server's, on acknowledgements).
            main.post([weak] {
                if (auto self = weak.lock()) self->outboxDidChange();
            });
        });
        devices->setOnChange([weak, &main = main] {
            main.post([weak] {
                auto self = weak.lock();
                if (self && self->onDevicesChange) self->onDevicesChange();
            });
        });

        auto images = deps.images;
        images.preferences = [defaults = deps.defaults] {
            return ImageSaveLocation::Preferences{
                defaults->string(ImageSaveLocation::kDestinationKey),
                defaults->string(ImageSaveLocation::kFolderKey)};
        };
        images.presentAlert = [weak](const std::string& title, const std::string& message) {
            if (auto self = weak.lock()) self->deps.presentAlert(title, message);
        };
        imageDelivery =
            std::make_unique<ReceivedImageDelivery>(main, deps.pasteQueue, std::move(images));
    }

    ~Impl() {
        // The server goes first: its queue is joined, so nothing of it runs afterwards, and what
        // it already posted to the main queue finds this object gone.
        server.reset();
        approvalPrompt.reset();
        if (pairingWindow) pairingWindow->setOnClose(nullptr);
        pairingWindow.reset();
        main.cancel(pairingRefreshTask);
        outbox->setOnChange(nullptr);
        devices->setOnChange(nullptr);
    }

    // ----- carrying out decisions ------------------------------------------------------------

    void notifyStatus() {
        if (onStatusChange) onStatusChange(lifecycle.state);
    }

    void perform(const Lifecycle::Actions& actions) {
        SendToPhoneServicePolicy::Actions policyActions;
        if (lifecycle.isOff()) policyActions = servicePolicy.serviceStopped(outbox->count());
        notifyStatus();
        for (const auto& action : actions) {
            switch (action.kind) {
                case Lifecycle::Action::Kind::alert:
                    deps.presentAlert(action.title, action.message);
                    break;
                case Lifecycle::Action::Kind::noteFailure:
                    lastFailure = action.message;
                    break;
                case Lifecycle::Action::Kind::start:
                    main.post([weak = weak_from_this()] {
                        if (auto self = weak.lock()) self->startServer();
                    });
                    break;
                case Lifecycle::Action::Kind::stop:
                    servicePolicy.stopInFlight = true;
                    if (server) server->stop();
                    break;
                case Lifecycle::Action::Kind::showPairing:
                    showPairingWindow();
                    break;
            }
        }
        if (lifecycle.on()) lastFailure.reset();
        if (server) server->setOpenedForSending(servicePolicy.openedForSending);
        performPolicy(policyActions);
    }

    // Neither turns the user's "remoteInputEnabled" on or off: the connection is the outbox's.
    void performPolicy(const SendToPhoneServicePolicy::Actions& actions) {
        for (auto action : actions) {
            if (action == SendToPhoneServicePolicy::Action::turnOn) {
                perform(lifecycle.turnOn(false, Origin::user));
            } else {
                perform(lifecycle.turnOff());
            }
        }
    }

    // ----- the user's control ----------------------------------------------------------------

    bool enabled() const { return deps.defaults->boolean(kEnabledKey).value_or(false); }

    void turnOn(bool thenPair) {
        servicePolicy.openedForSending = false;
        deps.defaults->set(kEnabledKey, true);
        if (lifecycle.isOff() && !deps.isAccessibilityTrusted()) {
            lastFailure.reset();
            deps.presentAlert(
                localized("Accessibility permission needed"),
                localized("Phone Connection types into other apps, which this computer only allows "
                          "in an X11 session with the XTest and XInput extensions. Log in to an "
                          "X11 session, then turn Phone Connection on again."));
            notifyStatus();
            return;
        }
        lastFailure.reset();
        perform(lifecycle.turnOn(thenPair, Origin::user));
    }

    void turnOff(bool recordIntent) {
        if (recordIntent) {
            deps.defaults->set(kEnabledKey, false);
            lastFailure.reset();
        }
        perform(lifecycle.turnOff());
    }

    void restoreIfEnabled() {
        if (!enabled() || !lifecycle.isOff()) return;
        if (!deps.isAccessibilityTrusted()) {
            lastFailure = localized("needs Accessibility permission — click to set it up");
            notifyStatus();
            return;
        }
        servicePolicy.openedForSending = false;
        lastFailure.reset();
        perform(lifecycle.turnOn(false, Origin::automatic));
    }

    void toggleFromMenu() {
        // With the intent recorded but no permission, the menu item opens the explanation again
        // while its note is shown, and otherwise clears the intent.
        const bool mayStart =
            !(enabled() && !deps.isAccessibilityTrusted()) || lastFailure.has_value();
        if (const auto* starting = lifecycle.starting()) {
            if (starting->stopRequested) return turnOn(false);
            return turnOff(true);
        }
        if (lifecycle.on()) return turnOff(true);
        if (mayStart) return turnOn(false);
        turnOff(true);
    }

    // ----- the server ------------------------------------------------------------------------

    void startServer() {
        makeServerIfNeeded([weak = weak_from_this()](std::optional<std::string> failure) {
            auto self = weak.lock();
            if (!self) return;
            if (failure) return self->perform(self->lifecycle.startFailed(*failure));
            self->server->setOpenedForSending(self->servicePolicy.openedForSending);
            self->server->start([weak](RemoteInputServer::StartResult result) {
                if (auto self = weak.lock()) self->serverStarted(result);
            });
        });
    }

    void serverStarted(const RemoteInputServer::StartResult& result) {
        if (!result) return perform(lifecycle.startFailed(result.error().description()));
        const auto moved = notePortChange(result.value());
        perform(lifecycle.startedOnPort(result.value()));
        if (moved) {
            if (lifecycle.origin == Origin::automatic) {
                // After the start's own bookkeeping, which clears the note of an earlier failure.
                lastFailure = moved->second;
                notifyStatus();
            } else {
                deps.presentAlert(moved->first, moved->second);
            }
        }
        outboxChanged();
    }

    void makeServerIfNeeded(std::function<void(std::optional<std::string>)> done) {
        if (server) return done(std::nullopt);
        std::weak_ptr<Impl> weak = weak_from_this();
        PhoneLinkServerSetup setup;
        setup.directory = deps.directory;
        setup.devices = devices;
        setup.outbox = outbox;
        setup.configure = [defaults = deps.defaults, loopbackOnly = deps.loopbackOnly](
                              TLSIdentity identity, std::string fingerprint) {
            return serverConfiguration(std::move(identity), std::move(fingerprint), *defaults,
                                       loopbackOnly);
        };
        setup.owner = weak;
        deps.makeServer(std::move(setup),
                        [weak, done](Result<MadePhoneLinkServer, std::string> made) mutable {
                            auto self = weak.lock();
                            if (!self) return;
                            if (!made) return done(made.error());
                            self->server = std::move(made.value().server);
                            self->fingerprint = std::move(made.value().fingerprint);
                            done(std::nullopt);
                        });
    }

    std::optional<std::pair<std::string, std::string>> notePortChange(std::uint16_t port) {
        const auto old = deps.defaults->integer(kPortKey).value_or(0);
        deps.defaults->set(kPortKey, std::int64_t{port});
        if (old <= 0 || old == port || devices->devices().empty()) return std::nullopt;
        return std::pair{localized("Phone Connection moved to a new port"),
                         localizedFormat("Port %d was taken by another app, so it is now on port "
                                         "%d. Paired phones must scan a new pairing code to "
                                         "reconnect.",
                                         {old, port})};
    }

    // ----- what the server asks and tells -----------------------------------------------------

    void approvePairing(RemoteInputServer::PairingRequest request,
                        std::function<void(bool)> reply) override {
        askToApprove(std::move(request), std::move(reply));
    }
    void executeCommand(RemoteMessage command,
                        RemoteInputServer::CommandCompletion completion) override {
        deps.executor.execute(command, std::move(completion));
    }
    void receiveImage(Bytes data, ImageFormat, bool save,
                      RemoteInputServer::ImageCompletion completion) override {
        imageDelivery->receiveImage(std::move(data), save, std::move(completion));
    }
    void serverStopped(const RemoteInputServer::StopReason& reason) override {
        serverDidStop(reason);
    }
    void approvalWithdrawn(const Uuid& id) override { onApprovalWithdrawn(id); }
    void pushAcknowledged(const std::string& id) override { onPushAcknowledged(id); }
    void secretRefused(const std::string& id) override { onSecretRefused(id); }

    void serverDidStop(const RemoteInputServer::StopReason& reason) {
        closePairingWindow();
        if (approvalPrompt) approvalPrompt->dismiss();
        cancelPendingText();
        perform(lifecycle.stopped(reason));
    }

    // ----- pairing approval ------------------------------------------------------------------

    void askToApprove(RemoteInputServer::PairingRequest request, std::function<void(bool)> reply) {
        if (approvalPrompt) approvalPrompt->dismiss();
        ApprovalQuestion question{
            localizedFormat("Pair “%s”?", {request.deviceName}),
            localizedFormat("From %s. Only allow this if you just scanned the code with your own "
                            "phone. A paired phone can type into this computer whenever Phone "
                            "Connection is on.",
                            {request.peer}),
            localized("Allow"), localized("Deny")};
        const Uuid id = request.id;
        approvalRequestID = id;
        approvalPrompt = deps.showApproval(std::move(question),
                                           [weak = weak_from_this(), id, reply](bool allowed) {
                                               reply(allowed);
                                               auto self = weak.lock();
                                               if (!self || self->approvalRequestID != id) return;
                                               // Forgotten later, on the main queue: the prompt may
                                               // be answering from inside its own handle's calls.
                                               self->approvalRequestID.reset();
                                               self->main.post([weak, id] {
                                                   auto self = weak.lock();
                                                   if (self && !self->approvalRequestID)
                                                       self->approvalPrompt.reset();
                                               });
                                               if (allowed) self->closePairingWindow();
                                           });
    }

    void onApprovalWithdrawn(const Uuid& id) {
        if (approvalPrompt && approvalRequestID == id) approvalPrompt->dismiss();
    }

    // ----- the pairing window ----------------------------------------------------------------

    void showPairingWindow() {
        const auto* on = lifecycle.on();
        if (!on || !server || !fingerprint) return;
        const auto host = LocalAddress::pick(deps.currentInterfaces(), deps.primaryInterface());
        if (!host) {
            deps.presentAlert(
                localized("This computer is not on a local network"),
                localized("Connect to the same Wi-Fi as your phone, then try again."));
            return;
        }
        if (!pairingWindow) {
            pairingWindow = deps.makePairingWindow();
            observeLanguageOnce();
        }
        pairingWindow->setOnClose([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->pairingWindowClosed();
        });
        const std::uint16_t port = on->port;
        std::optional<std::string> name;
        if (const auto computer = deps.computerName()) {
            name = PairingPayload::sanitizedName(*computer);
        }
        pairingLink = [host = *host, port, fingerprint = *fingerprint,
                       name](const std::string& token) {
            return PairingPayload(host, port, fingerprint, token, name).encoded();
        };
        pairingWindow->present(*host + ":" + std::to_string(port));
        // Opening the window is the user's doing and counts as activity; renewals do not, so an
        // open window alone never keeps an idle connection alive.
        refreshPairingCode(false);
        main.cancel(pairingRefreshTask);
        schedulePairingRefresh();
    }

    void schedulePairingRefresh() {
        pairingRefreshTask = main.postAfter(kPairingRefreshInterval, [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) return;
            self->refreshPairingCode(true);
            self->schedulePairingRefresh();
        });
    }

    void refreshPairingCode(bool isRefresh) {
        if (!server) return;
        const auto shown = ++pairingShowing;
        server->issuePairingToken(
            !isRefresh, [weak = weak_from_this(), shown](std::optional<PairingToken> token) {
                auto self = weak.lock();
                // No code: the last one stays on screen and expires by itself.
                if (!self || !token || shown != self->pairingShowing || !self->pairingWindow ||
                    !self->pairingLink) {
                    return;
                }
                self->pairingWindow->showLink(self->pairingLink(token->value));
            });
    }

    void pairingWindowClosed() {
        main.cancel(pairingRefreshTask);
        pairingRefreshTask = 0;
        ++pairingShowing;
        pairingLink = nullptr;
        // A code photographed earlier stops working.
        if (server) server->invalidatePairingToken();
    }

    void closePairingWindow() {
        if (pairingWindow && pairingWindow->isVisible()) pairingWindow->close();
    }

    void observeLanguageOnce() {
        if (hasLanguageObserver) return;
        languageObserver = deps.observeLanguageChange([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self || !self->pairingWindow || self->pairingWindow->isVisible()) return;
            // Built again, in the new language, the next time it is shown.
            self->pairingWindow->setOnClose(nullptr);
            self->pairingWindow.reset();
        });
        hasLanguageObserver = true;
    }

    // ----- sending to the phones -------------------------------------------------------------

    void feedback(const std::string& line) {
        if (onSendFeedback) onSendFeedback(line);
    }

    void sendClipboardToPhone() {
        deps.readClipboard([weak = weak_from_this()](std::unique_ptr<ClipboardReader> reader) {
            auto self = weak.lock();
            if (!self) return;
            auto taken = OutgoingClipboard::take(*reader);
            if (!taken) return self->enqueueForPhone(taken.error());
            const bool sendOriginal =
                self->deps.defaults->boolean(kSendOriginalImagesKey).value_or(false);
            self->deps.background(
                [weak, &main = self->main, taken = std::move(taken).value(), sendOriginal] {
                    auto prepared = OutgoingClipboard::prepare(taken, sendOriginal, kMaxImageBytes);
                    main.post([weak, prepared = std::move(prepared)] {
                        if (auto self = weak.lock()) self->enqueueForPhone(prepared);
                    });
                });
        });
    }

    void enqueueForPhone(const Result<Outbox::Content, OutgoingClipboard::Refusal>& prepared) {
        if (!prepared) return feedback(prepared.error().message());
        std::vector<Uuid> phones;
        for (const auto& device : devices->devices()) phones.push_back(device.id);
        if (phones.empty()) {
            return feedback(
                localized("No paired phone yet — pair one under Phone Connection first"));
        }
        auto item = outbox->enqueue(prepared.value(), phones);
        if (!item) {
            return feedback(
                localizedFormat("Couldn’t keep it for the phone: %s", {describe(item.error())}));
        }
        const std::string id = item.value().id;
        awaitingAck = id;
        awaitingSecret = item.value().isSecret();
        main.postAfter(kAcknowledgementWait, [weak = weak_from_this(), id] {
            auto self = weak.lock();
            if (!self || self->awaitingAck != id) return;
            self->awaitingAck.reset();
            self->feedback(
                self->awaitingSecret
                    ? localized("Phone not connected — open the app within 10 minutes to receive "
                                "the password")
                    : localized("Phone not connected — it will arrive when you open the app"));
        });
        if (server) server->noteSend();
        performPolicy(servicePolicy.itemSent(lifecycle.state));
    }

    void onPushAcknowledged(const std::string& id) {
        if (awaitingAck != id) return;
        awaitingAck.reset();
        feedback(awaitingSecret ? localized("Password sent to phone") : localized("Sent to phone"));
    }

    void onSecretRefused(const std::string& id) {
        if (outbox->isPending(id)) {
            return feedback(
                localized("One paired phone’s app is too old to receive passwords — update it"));
        }
        if (awaitingAck != id) return;
        awaitingAck.reset();
        feedback(
            localized("The phone app is too old to receive passwords — update it and send again"));
    }

    void outboxDidChange() {
        if (server) server->outboxDidChange();
        outboxChanged();
    }

    void outboxChanged() {
        performPolicy(servicePolicy.outboxChanged(outbox->count(), lifecycle.state));
    }

    void clearOutbox() {
        awaitingAck.reset();
        outbox->clear();
    }

    void cancelPendingText() {
        deps.injector.bumpGeneration();
        deps.pasteQueue.bumpGeneration();
        imageDelivery->cancelPending();
    }

    std::optional<std::string> removeDevice(const Uuid& id) {
        if (auto removed = devices->remove(id); !removed) return removed.error().message;
        cancelPendingText();
        outbox->removeDevice(id);
        return std::nullopt;
    }

    Dependencies deps;
    MainQueue& main;
    std::shared_ptr<PairedDeviceStore> devices;
    std::shared_ptr<Outbox> outbox;
    std::function<void(const State&)> onStatusChange;
    std::function<void(const std::string&)> onSendFeedback;
    std::function<void()> onDevicesChange;
    std::optional<std::string> lastFailure;
    std::unique_ptr<ReceivedImageDelivery> imageDelivery;
    Lifecycle lifecycle;
    std::unique_ptr<PhoneLinkServer> server;
    std::optional<std::string> fingerprint;
    std::unique_ptr<PairingWindow> pairingWindow;
    std::function<std::string(const std::string& token)> pairingLink;
    std::uint64_t pairingShowing = 0;
    TaskId pairingRefreshTask = 0;
    Subscription languageObserver;
    bool hasLanguageObserver = false;
    std::unique_ptr<ApprovalPrompt> approvalPrompt;
    std::optional<Uuid> approvalRequestID;
    SendToPhoneServicePolicy servicePolicy;
    std::optional<std::string> awaitingAck;
    bool awaitingSecret = false;
};

RemoteInputController::RemoteInputController(Dependencies dependencies)
    : impl_(std::make_shared<Impl>(std::move(dependencies))) {
    impl_->connect();
}

RemoteInputController::~RemoteInputController() = default;

void RemoteInputController::restoreIfEnabled() {
    impl_->restoreIfEnabled();
}
void RemoteInputController::toggleFromMenu() {
    impl_->toggleFromMenu();
}
void RemoteInputController::turnOn(bool thenPair) {
    impl_->turnOn(thenPair);
}
void RemoteInputController::turnOff(bool recordIntent) {
    impl_->turnOff(recordIntent);
}
void RemoteInputController::showPairingWindow() {
    impl_->showPairingWindow();
}
void RemoteInputController::sendClipboardToPhone() {
    impl_->sendClipboardToPhone();
}
void RemoteInputController::clearOutbox() {
    impl_->clearOutbox();
}
void RemoteInputController::cancelPendingText() {
    impl_->cancelPendingText();
}
void RemoteInputController::idleTimeoutChanged() {
    if (!impl_->server) return;
    const bool enabled = impl_->deps.defaults->boolean(kIdleTimeoutEnabledKey).value_or(false);
    impl_->server->setIdleTimeout(enabled ? std::optional(RemoteInputServer::kIdleTimeout)
                                          : std::nullopt);
}

std::optional<std::string> RemoteInputController::removeDevice(const Uuid& id) {
    return impl_->removeDevice(id);
}

const RemoteInputController::State& RemoteInputController::state() const {
    return impl_->lifecycle.state;
}
bool RemoteInputController::openedForSending() const {
    return impl_->servicePolicy.openedForSending;
}
const std::optional<std::string>& RemoteInputController::lastFailure() const {
    return impl_->lastFailure;
}
std::size_t RemoteInputController::waitingCount() const {
    return impl_->outbox->count();
}
const std::shared_ptr<PairedDeviceStore>& RemoteInputController::devices() const {
    return impl_->devices;
}
const std::shared_ptr<Outbox>& RemoteInputController::outbox() const {
    return impl_->outbox;
}

void RemoteInputController::setOnStatusChange(std::function<void(const State&)> callback) {
    impl_->onStatusChange = std::move(callback);
}
void RemoteInputController::setOnSendFeedback(std::function<void(const std::string&)> callback) {
    impl_->onSendFeedback = std::move(callback);
}
void RemoteInputController::setOnDevicesChange(std::function<void()> callback) {
    impl_->onDevicesChange = std::move(callback);
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
