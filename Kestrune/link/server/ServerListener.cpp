#include "Kestrune/link/server/ServerListener.hpp"

#include <utility>

#include "Kestrune/link/server/ServerTransport.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {

namespace {
constexpr std::string_view kLogCategory = "RemoteInputServer";
}  // namespace

ServerListener::ServerListener(Options options, Dependencies dependencies)
    : options_(std::move(options)), deps_(std::move(dependencies)) {}

ServerListener::~ServerListener() = default;

void ServerListener::start(std::function<void(StartResult)> completion) {
    if (!listener_ && pendingStarts_.empty()) {
        pendingStarts_.push_back(std::move(completion));
        launch(PortPlan::firstAttempt(lastPort_, options_.preferredPort));
    } else if (port_) {
        deps_.ownerQueue.post(
            [completion = std::move(completion), port = *port_] { completion(port); });
    } else {
        pendingStarts_.push_back(std::move(completion));
    }
}

void ServerListener::close(std::optional<StartFailure> failure) {
    if (!failure) pendingStarts_.clear();
    dropListener();
    port_.reset();
    if (failure) completeStarts(std::move(*failure));
}

void ServerListener::launch(LaunchAttempt next) {
    attempt_ = next;
    const auto generation = ++generation_;
    if (!tls_) {
        auto made = TlsServerContext::make(options_.identity);
        if (!made) return creationFailed(made.error());
        tls_ = made.value();
    }
    ListenerOptions listenerOptions;
    listenerOptions.loopbackOnly = options_.loopbackOnly;
    listenerOptions.port = attempt_.port;
    auto opened = WebSocketListener::open(deps_.queue.context(), listenerOptions, tls_);
    if (!opened) {
        // A port in use shows up as the listener failing, as it would for a listener that
        // could not come up later; the retry plan handles both.
        deps_.queue.post(lifetime_.guard(
            [this, generation, reason = opened.error()] { listenerFailed(generation, reason); }));
        return;
    }
    listener_ = std::move(opened.value());
    // A connection accepted after the listener is gone is released unanswered, which closes it.
    listener_->acceptLoop(
        lifetime_.guard([this, generation](std::shared_ptr<WebSocketConnection> nw) {
            if (generation != generation_) return nw->cancel();
            deps_.accepted(std::move(nw));
        }),
        lifetime_.guard(
            [this, generation](const std::string& reason) { listenerFailed(generation, reason); }));
    deps_.queue.post(lifetime_.guard([this, generation] { listenerReady(generation); }));
}

void ServerListener::creationFailed(const std::string& reason) {
    log(LogLevel::error, kLogCategory, "listener cannot be created: " + reason);
    const auto step = PortPlan::afterCreationFailure(attempt_);
    if (step.next == PortPlan::Next::launchNow) return launch(step.attempt);
    completeStarts(StartFailure{reason});
}

void ServerListener::listenerReady(std::uint64_t generation) {
    if (generation != generation_ || !listener_) return;
    const auto readyPort = listener_->port();
    if (readyPort == 0) return;
    port_ = readyPort;
    lastPort_ = readyPort;
    log(LogLevel::info, kLogCategory, "listening on port " + std::to_string(readyPort));
    deps_.ready(readyPort);
    completeStarts(readyPort);
}

void ServerListener::listenerFailed(std::uint64_t generation, const std::string& reason) {
    if (generation != generation_) return;
    log(LogLevel::warning, kLogCategory, "listener failed: " + reason);
    const auto step = PortPlan::afterListenerFailure(attempt_, port_.has_value());
    switch (step.next) {
        case PortPlan::Next::stopFailed:
            return deps_.lost(reason);
        case PortPlan::Next::completeStartsWithError:
            return completeStarts(StartFailure{reason});
        case PortPlan::Next::launchNow:
            dropListener();
            return launch(step.attempt);
        case PortPlan::Next::launchAfterDelay:
            dropListener();
            deps_.queue.postAfter(options_.portRetryDelay,
                                  lifetime_.guard([this, next = step.attempt] {
                                      if (pendingStarts_.empty() || listener_) return;
                                      launch(next);
                                  }));
            return;
    }
}

void ServerListener::dropListener() {
    ++generation_;
    if (listener_) listener_->cancel();
    listener_.reset();
    deps_.dropped();
}

void ServerListener::completeStarts(StartResult result) {
    auto starts = std::exchange(pendingStarts_, {});
    for (auto& completion : starts) {
        deps_.ownerQueue.post([completion = std::move(completion), result] { completion(result); });
    }
}

}  // namespace kestrune
