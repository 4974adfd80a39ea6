#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "Kestrune/phone/controller/PhoneLinkServer.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {

namespace {

class RemoteInputServerLink final : public PhoneLinkServer {
  public:
    RemoteInputServerLink(RemoteInputServer::Configuration configuration,
                          RemoteInputServer::Dependencies dependencies)
        : server_(std::move(configuration), std::move(dependencies)) {}

    void start(std::function<void(RemoteInputServer::StartResult)> completion) override {
        server_.start(std::move(completion));
    }
    void stop() override { server_.stop(); }
    void setOpenedForSending(bool opened) override { server_.setOpenedForSending(opened); }
    void noteSend() override { server_.noteSend(); }
    void outboxDidChange() override { server_.outboxDidChange(); }
    void issuePairingToken(bool countsAsActivity,
                           std::function<void(std::optional<PairingToken>)> completion) override {
        server_.issuePairingToken(countsAsActivity, std::move(completion));
    }
    void invalidatePairingToken() override { server_.invalidatePairingToken(); }
    void setIdleTimeout(std::optional<std::chrono::seconds> timeout) override {
        server_.setIdleTimeout(timeout);
    }

    RemoteInputServer& server() { return server_; }

  private:
    RemoteInputServer server_;
};

// The identity of earlier runs, or a new one made with openssl (which takes a few seconds).
Result<TLSIdentityStore::Loaded, std::string> loadOrMakeIdentity(
    const std::filesystem::path& directory) {
    TLSIdentityStore store(directory);
    auto loaded = store.load();
    if (loaded) return std::move(loaded).value();
    if (auto generated = store.generate(); !generated) return describe(generated.error());
    loaded = store.load();
    if (!loaded) return describe(loaded.error());
    return std::move(loaded).value();
}

}  // namespace

MakePhoneLinkServer remoteInputServerMaker(MainQueue& main,
                                           std::shared_ptr<ServiceAdvertiser> advertiser) {
    // One queue for the loads, owned by the maker: when Phone Connection goes (at quit), the queue
    // goes with it and waits for a load under way, which may be making the identity, so the
    // load never posts to a main queue that is gone.
    auto loader = std::make_shared<SerialQueue>("Kestrune.TLSIdentityStore");
    return [&main, advertiser, loader](
               PhoneLinkServerSetup setup,
               std::function<void(Result<MadePhoneLinkServer, std::string>)> done) {
        loader->post([&main, advertiser, setup = std::move(setup),
                      done = std::move(done)]() mutable {
            auto identity = loadOrMakeIdentity(setup.directory);
            main.post([&main, advertiser, setup = std::move(setup), done = std::move(done),
                       identity = std::move(identity)]() mutable {
                if (!identity) return done(identity.error());
                auto& loaded = identity.value();
                RemoteInputServer::Dependencies dependencies{
                    .devices = setup.devices,
                    .outbox = setup.outbox,
                    .ownerQueue = main,
                    .owner = setup.owner,
                    .advertiser = advertiser,
                };
                auto link = std::make_unique<RemoteInputServerLink>(
                    setup.configure(loaded.identity, loaded.fingerprint), std::move(dependencies));
                done(MadePhoneLinkServer{std::move(link), loaded.fingerprint});
            });
        });
    };
}

}  // namespace kestrune
