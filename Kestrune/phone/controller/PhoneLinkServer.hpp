#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/link/Pairing.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class Outbox;
class PairedDeviceStore;
class ServiceAdvertiser;

// The phone-link server as the phone connection controller drives it: the operations of
// RemoteInputServer that it calls, so that its decisions can be tested in virtual time against a
// scripted server. Called on the main thread; completions and callbacks come back there.
class PhoneLinkServer {
  public:
    virtual ~PhoneLinkServer() = default;
    virtual void start(std::function<void(RemoteInputServer::StartResult)> completion) = 0;
    virtual void stop() = 0;
    virtual void setOpenedForSending(bool opened) = 0;
    virtual void noteSend() = 0;
    virtual void outboxDidChange() = 0;
    virtual void issuePairingToken(bool countsAsActivity,
                                   std::function<void(std::optional<PairingToken>)> completion) = 0;
    virtual void invalidatePairingToken() = 0;
    // None: phones stay connected however long they are idle.
    virtual void setIdleTimeout(std::optional<std::chrono::seconds> timeout) = 0;
};

// Everything the controller hands over when its server is made.
struct PhoneLinkServerSetup {
    // Where the TLS identity is kept (made there the first time).
    std::filesystem::path directory;
    std::shared_ptr<PairedDeviceStore> devices;
    std::shared_ptr<Outbox> outbox;
    // The configuration for the loaded identity and its fingerprint.
    std::function<RemoteInputServer::Configuration(TLSIdentity identity, std::string fingerprint)>
        configure;
    // Held weakly by the server, so that the controller's going ends what reaches it.
    std::weak_ptr<RemoteInputServer::Owner> owner;
};

struct MadePhoneLinkServer {
    std::unique_ptr<PhoneLinkServer> server;
    // The certificate fingerprint that phones pin, carried by the pairing code.
    std::string fingerprint;
    // The identity could not be loaded and was made anew (the old files kept aside): phones
    // paired before pin the old one.
    bool newIdentity = false;
};

// Makes the server; `done` runs on the main thread with the server or why there is none.
using MakePhoneLinkServer =
    std::function<void(PhoneLinkServerSetup setup,
                       std::function<void(Result<MadePhoneLinkServer, std::string> made)> done)>;

// The real server: loads the TLS identity (making one with openssl the first time) on a thread of
// its own, then builds a RemoteInputServer whose callbacks run on `main`, announced by
// `advertiser` (none: not announced). `main` must outlive every server made.
MakePhoneLinkServer remoteInputServerMaker(MainQueue& main,
                                           std::shared_ptr<ServiceAdvertiser> advertiser);

}  // namespace kestrune
