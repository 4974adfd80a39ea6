#include "app/PhoneLink.hpp"

#include "Kestrune/defaults/XdgDirectories.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"

namespace kestrune::app {

std::filesystem::path PhoneLink::defaultDirectory() {
    return xdgDataHome() / "Murrelo" / "Remote";
}

Result<std::unique_ptr<PhoneLink>, std::string> PhoneLink::make(
    Options options, std::weak_ptr<RemoteInputServer::Owner> owner, MainQueue& ownerQueue) {
    // The identity is made once and kept: phones pin its fingerprint when they pair.
    const TLSIdentityStore identities(options.directory);
    auto identity = identities.load();
    if (!identity) {
        if (const auto generated = identities.generate(); !generated) {
            return describe(generated.error());
        }
        identity = identities.load();
        if (!identity) return describe(identity.error());
    }

    std::unique_ptr<PhoneLink> link(new PhoneLink());
    link->fingerprint_ = identity.value().fingerprint;
    link->devices_ = std::make_shared<PairedDeviceStore>(options.directory / "devices.json");
    link->outbox_ = Outbox::create(options.directory / "outbox", ownerQueue);

    RemoteInputServer::Configuration configuration{
        .identity = identity.value().identity,
        .idleTimeout = options.idleTimeout,
        .loopbackOnly = options.loopbackOnly,
        .preferredPort = options.preferredPort,
        .mdnsFingerprint = options.advertise ? std::optional(link->fingerprint_) : std::nullopt,
    };
    if (options.subscriptionDeadline) {
        configuration.subscriptionDeadline = *options.subscriptionDeadline;
    }
    RemoteInputServer::Dependencies dependencies{
        .devices = link->devices_,
        .outbox = link->outbox_,
        .ownerQueue = ownerQueue,
        .owner = std::move(owner),
        .advertiser = options.advertise ? std::make_shared<AvahiServiceAdvertiser>() : nullptr,
    };
    link->server_ = std::make_unique<RemoteInputServer>(configuration, std::move(dependencies));
    RemoteInputServer* server = link->server_.get();
    link->outbox_->setOnChange([server] { server->outboxDidChange(); });
    return link;
}

PhoneLink::~PhoneLink() {
    // The outbox outlives the server (shared); it must not call into a destroyed one.
    if (outbox_) outbox_->setOnChange(nullptr);
}

}  // namespace kestrune::app
