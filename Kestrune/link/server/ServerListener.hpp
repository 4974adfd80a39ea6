#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/link/server/PortPlan.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"

namespace kestrune {

class TlsServerContext;
class WebSocketConnection;
class WebSocketListener;

// The server's listening socket and its port plan. Brings a listener up on the port that worked
// last time or the preferred one, tries a taken port again as `PortPlan` says, completes the
// waiting starts with the port or why there is none, and hands over every accepted connection.
// Lives on the server's queue, where it is also destroyed; every callback runs there, guarded by
// its Lifetime, and starts complete on the owner's queue.
class ServerListener {
  public:
    using StartResult = RemoteInputServer::StartResult;
    using StartFailure = RemoteInputServer::StartFailure;

    struct Options {
        TLSIdentity identity;
        bool loopbackOnly = false;
        std::optional<std::uint16_t> preferredPort;
        Duration portRetryDelay;
    };

    struct Dependencies {
        // The server's queue, where the listener does its work; must outlive it.
        SerialQueue& queue;
        // Where start completions run; must outlive the listener.
        MainQueue& ownerQueue;
        std::function<void(std::shared_ptr<WebSocketConnection>)> accepted;
        // The listener is up on this port; runs before the waiting starts complete.
        std::function<void(std::uint16_t)> ready;
        // A listener went away (stopped, failed or replaced).
        std::function<void()> dropped;
        // The listener failed for good after it had been ready: the server stops.
        std::function<void(const std::string& reason)> lost;
    };

    ServerListener(Options options, Dependencies dependencies);
    ~ServerListener();
    ServerListener(const ServerListener&) = delete;
    ServerListener& operator=(const ServerListener&) = delete;

    // The completion receives the port once the listener is ready, or why there is none.
    void start(std::function<void(StartResult)> completion);
    // Drops the listener and forgets the port; waiting starts get `failure`, or nothing when none.
    void close(std::optional<StartFailure> failure);

    // A listener exists or a start is waiting for one.
    bool isActive() const { return listener_ != nullptr || !pendingStarts_.empty(); }
    bool hasListener() const { return listener_ != nullptr; }
    // The port of the ready listener.
    const std::optional<std::uint16_t>& port() const { return port_; }

  private:
    void launch(LaunchAttempt next);
    void creationFailed(const std::string& reason);
    void listenerReady(std::uint64_t generation);
    void listenerFailed(std::uint64_t generation, const std::string& reason);
    void dropListener();
    void completeStarts(StartResult result);

    Options options_;
    Dependencies deps_;
    std::shared_ptr<TlsServerContext> tls_;
    std::unique_ptr<WebSocketListener> listener_;
    // Bumped whenever a listener is dropped, so events of an old one are recognised and ignored.
    std::uint64_t generation_ = 0;
    LaunchAttempt attempt_;
    std::optional<std::uint16_t> port_;
    std::optional<std::uint16_t> lastPort_;
    std::vector<std::function<void(StartResult)>> pendingStarts_;
    Lifetime lifetime_;
};

}  // namespace kestrune
