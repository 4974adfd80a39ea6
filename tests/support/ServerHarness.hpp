#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::testing {

using namespace std::chrono_literals;

// The certificate every test server presents, made once per test program with the real store.
const TLSIdentityStore::Loaded& testIdentity();

// Everything the owner sees from the server, recorded under one lock so tests can wait for it
// with a bounded wait instead of sleeping.
class OwnerLog {
  public:
    template <typename Predicate>
    bool waitFor(Predicate predicate, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return predicate(*this); });
    }
    template <typename Change>
    void record(Change change) {
        {
            std::lock_guard lock(mutex_);
            change(*this);
        }
        changed_.notify_all();
    }

    // Only read inside waitFor / record, or after the server is gone.
    std::vector<RemoteMessage> commands;
    std::vector<std::function<void(Result<void, RemoteError>)>> heldCommands;
    std::vector<RemoteInputServer::PairingRequest> approvals;
    std::vector<std::function<void(bool)>> approvalReplies;
    std::vector<Bytes> images;
    std::vector<RemoteInputServer::StopReason> stops;
    std::vector<Uuid> withdrawnApprovals;
    std::vector<std::string> pushAcknowledged;
    std::vector<std::string> secretsRefused;
    std::vector<RemoteInputServer::StartResult> starts;
    bool wrongThread = false;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

// A running server on loopback with a recording owner: commands either succeed at once or are held
// until the test answers them.
class ServerHarness {
  public:
    struct Options {
        bool holdCommands = false;
        std::optional<std::uint16_t> preferredPort = std::nullopt;
        std::function<void(RemoteInputServer::Configuration&)> configure = nullptr;
        std::shared_ptr<ServiceAdvertiser> advertiser = nullptr;
        // The server's clock (pairing codes expire by it); the system clock when empty.
        std::function<Date()> now = nullptr;
    };

    ServerHarness();
    explicit ServerHarness(Options options);
    ~ServerHarness();

    static RemoteInputServer::Configuration shortConfiguration();

    // Starts and waits for the port; 0 when the start failed.
    std::uint16_t start();
    RemoteInputServer::StartResult startAndWait();

    // A device in the store, as if paired earlier; returns its id and secret.
    std::pair<Uuid, std::string> pairDevice(const std::string& name = "Test Phone");
    // The owner goes away, as the application's controller does when it quits; the server
    // keeps running without it.
    void releaseOwner();
    // Answers the oldest held command.
    void finishHeldCommand(Result<void, RemoteError> outcome = {});

    SerialQueue& ownerQueue() { return *ownerQueue_; }
    RemoteInputServer& server() { return *server_; }
    PairedDeviceStore& devices() { return *devices_; }
    Outbox& outbox() { return *outbox_; }
    OwnerLog& log() { return *log_; }
    std::uint16_t port() const { return port_; }

  private:
    class RecordingOwner;

    Options options_;
    TemporaryDirectory directory_{"server-test"};
    std::unique_ptr<SerialQueue> ownerQueue_;
    std::shared_ptr<OwnerLog> log_;
    std::shared_ptr<RecordingOwner> owner_;
    std::shared_ptr<PairedDeviceStore> devices_;
    std::shared_ptr<Outbox> outbox_;
    std::unique_ptr<RemoteInputServer> server_;
    std::uint16_t port_ = 0;
};

// Open file descriptors of this process.
std::size_t openDescriptorCount();

// Descriptors of this process that are the server's end of a TCP connection on `port` (or its
// listening socket): the test's own client ends are not counted.
std::size_t serverSocketDescriptorCount(std::uint16_t port);

}  // namespace kestrune::testing
