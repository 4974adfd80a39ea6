#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "Kestrune/phone/controller/PhoneLinkServer.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "identity";

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

struct Identity {
    TLSIdentityStore::Loaded loaded;
    bool made = false;
};

// The identity files of an earlier run that could not be loaded: kept aside, never written over
// (phones pin them; a file only partly written may still be recovered). Fails, and no new identity
// is made, when one cannot be moved.
Result<bool, std::string> keepOldIdentityFiles(const std::filesystem::path& directory) {
    bool kept = false;
    for (const char* name :
         {TLSIdentityStore::kCertificateFileName, TLSIdentityStore::kKeyFileName,
          TLSIdentityStore::kCertificatePemFileName, TLSIdentityStore::kKeyPemFileName}) {
        const auto file = directory / name;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) continue;
        auto moved = keepAside(file);
        if (!moved) return "could not keep " + file.string() + " aside: " + moved.error();
        log(LogLevel::warning, kLogCategory, file.string() + " kept as " + moved.value().string());
        kept = true;
    }
    return kept;
}

// The identity of earlier runs, or a new one made with openssl (which takes a few seconds).
Result<Identity, std::string> loadOrMakeIdentity(const std::filesystem::path& directory) {
    TLSIdentityStore store(directory);
    auto loaded = store.load();
    if (loaded) return Identity{std::move(loaded).value(), false};
    const std::string why = describe(loaded.error());
    auto kept = keepOldIdentityFiles(directory);
    if (!kept) return kept.error();
    if (kept.value()) {
        log(LogLevel::error, kLogCategory,
            "the identity in " + directory.string() + " could not be loaded (" + why +
                "); making a new one, so phones paired before must pair again");
    }
    if (auto generated = store.generate(); !generated) return describe(generated.error());
    loaded = store.load();
    if (!loaded) return describe(loaded.error());
    return Identity{std::move(loaded).value(), kept.value()};
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
                auto& loaded = identity.value().loaded;
                RemoteInputServer::Dependencies dependencies{
                    .devices = setup.devices,
                    .outbox = setup.outbox,
                    .ownerQueue = main,
                    .owner = setup.owner,
                    .advertiser = advertiser,
                };
                auto link = std::make_unique<RemoteInputServerLink>(
                    setup.configure(loaded.identity, loaded.fingerprint), std::move(dependencies));
                done(MadePhoneLinkServer{std::move(link), loaded.fingerprint,
                                         identity.value().made});
            });
        });
    };
}

}  // namespace kestrune
