#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class Outbox;
class PairedDeviceStore;

namespace app {

// The phone link as this computer runs it, made once: the TLS identity (made on the first start),
// the paired phones, the outbox, the server and, when wanted, its announcement on the local
// network through the Avahi daemon. Needs no desktop: the test host runs it without a display.
// What a phone may do here (pairing approvals, commands, pictures) is the owner's to decide — the
// application's controllers, or a test host's script. Everything the server asks or reports runs
// on the owner's queue.
class PhoneLink {
  public:
    struct Options {
        // The certificate and key, "devices.json" and the "outbox" folder live here.
        std::filesystem::path directory;
        bool loopbackOnly = false;
        std::optional<std::uint16_t> preferredPort = std::nullopt;
        // Announce the service on the local network (never in tests).
        bool advertise = true;
        std::optional<Duration> idleTimeout = std::nullopt;
        // None: the server's own.
        std::optional<Duration> subscriptionDeadline = std::nullopt;
    };

    // The data folder of the application's link: "Murrelo/Remote" under $XDG_DATA_HOME.
    static std::filesystem::path defaultDirectory();

    // Fails when the TLS identity can be neither read nor made (the text says why). The server
    // holds `owner` weakly and calls it on `ownerQueue`.
    static Result<std::unique_ptr<PhoneLink>, std::string> make(
        Options options, std::weak_ptr<RemoteInputServer::Owner> owner, MainQueue& ownerQueue);

    ~PhoneLink();
    PhoneLink(const PhoneLink&) = delete;
    PhoneLink& operator=(const PhoneLink&) = delete;

    // SHA-256 of the certificate, for the pairing link.
    const std::string& fingerprint() const { return fingerprint_; }
    RemoteInputServer& server() { return *server_; }
    const std::shared_ptr<PairedDeviceStore>& devices() const { return devices_; }
    const std::shared_ptr<Outbox>& outbox() const { return outbox_; }

  private:
    PhoneLink() = default;

    std::string fingerprint_;
    std::shared_ptr<PairedDeviceStore> devices_;
    std::shared_ptr<Outbox> outbox_;
    std::unique_ptr<RemoteInputServer> server_;
};

}  // namespace app
}  // namespace kestrune
