#include "ListenLoop.hpp"

#include <chrono>

namespace kestrune::phone {

using End = SubscriptionClient::End;
using Event = ReconnectPlan::Event;

namespace {

std::string describeEnd(const End& end) {
    switch (end.kind) {
        case End::Kind::rejected:
            return "the computer refused (" + end.errorText + ")";
        case End::Kind::closed:
            return "the connection was closed";
        case End::Kind::deadlineMissed:
            return "the computer stopped answering heartbeats";
        case End::Kind::disconnected:
            return "the connection to the computer was lost";
        case End::Kind::unreachable:
            return "the computer cannot be reached";
        case End::Kind::certificateMismatch:
            return "the computer's certificate does not match the one paired with";
    }
    return "the connection ended";
}

}  // namespace

ListenLoop::ListenLoop(MainQueue& queue, ReconnectPlan plan, StartAttempt start, Hooks hooks)
    : queue_(queue), plan_(std::move(plan)), start_(std::move(start)), hooks_(std::move(hooks)) {}

ListenLoop::~ListenLoop() {
    *alive_ = false;
    if (retryTimer_) queue_.cancel(*retryTimer_);
}

void ListenLoop::start() {
    feed(Event::foreground);
}

void ListenLoop::stop() {
    feed(Event::background);
}

void ListenLoop::feed(Event event) {
    for (const auto& action : plan_.handle(event)) {
        if (std::holds_alternative<ReconnectPlan::Disconnect>(action)) {
            ++attemptNumber_;
            attempt_.reset();
        } else if (std::holds_alternative<ReconnectPlan::Connect>(action)) {
            if (retryTimer_) queue_.cancel(*retryTimer_);
            retryTimer_.reset();
            attempt_.reset();
            const std::uint64_t number = ++attemptNumber_;
            std::weak_ptr<bool> alive = alive_;
            auto onQueue = [this, alive, number](std::function<void()> work) {
                queue_.post([this, alive, number, work = std::move(work)] {
                    auto stillAlive = alive.lock();
                    if (stillAlive && *stillAlive && number == attemptNumber_) work();
                });
            };
            if (hooks_.note) hooks_.note("connecting");
            attempt_ = start_({
                [this, onQueue] {
                    onQueue([this] {
                        if (hooks_.note) hooks_.note("connected");
                        feed(Event::connected);
                    });
                },
                [this, onQueue](End end) { onQueue([this, end] { attemptEnded(end); }); },
            });
        } else if (const auto* retry = std::get_if<ReconnectPlan::Retry>(&action)) {
            if (retryTimer_) queue_.cancel(*retryTimer_);
            const auto delay =
                std::chrono::duration_cast<Duration>(std::chrono::duration<double>(retry->after));
            if (hooks_.note) {
                // Why, as well as when: a person watching can tell a computer that is off from
                // one that refuses this phone.
                hooks_.note("retrying in " + std::to_string(static_cast<int>(retry->after * 1000)) +
                            " ms" + (lastEnd_ ? ": " + describeEnd(*lastEnd_) : std::string()));
            }
            std::weak_ptr<bool> alive = alive_;
            retryTimer_ = queue_.postAfter(delay, [this, alive] {
                auto stillAlive = alive.lock();
                if (!stillAlive || !*stillAlive) return;
                retryTimer_.reset();
                feed(Event::retryDue);
            });
        }
    }
}

void ListenLoop::attemptEnded(End end) {
    attempt_.reset();
    lastEnd_ = end;
    switch (end.kind) {
        case End::Kind::closed:  // only this loop closes its attempts, and it ignores those
            return;
        case End::Kind::rejected:
            feed(Event::rejected);
            break;
        case End::Kind::certificateMismatch:
            feed(Event::certificateMismatch);
            break;
        case End::Kind::deadlineMissed:
        case End::Kind::disconnected:
        case End::Kind::unreachable:
            feed(Event::ended);
            break;
    }
    const auto phase = plan_.phase();
    if (phase == ReconnectPlan::Phase::parked || phase == ReconnectPlan::Phase::awaitingRepair) {
        if (hooks_.gaveUp) hooks_.gaveUp(GaveUp{end});
    }
}

namespace {

class SubscriptionAttempt final : public ListenLoop::Attempt {
  public:
    SubscriptionAttempt(std::string host, std::uint16_t port, std::string fingerprint,
                        std::string secret, SubscriptionClient::Timing timing, bool acceptsSecret,
                        SubscriptionClient::Deliver deliver, ListenLoop::AttemptCallbacks callbacks)
        : client_(std::move(host), port, std::move(fingerprint), std::move(secret), timing,
                  acceptsSecret) {
        client_.run(std::move(callbacks.connected), std::move(deliver), std::move(callbacks.ended));
    }

  private:
    SubscriptionClient client_;
};

}  // namespace

std::unique_ptr<ListenLoop::Attempt> startSubscription(std::string host, std::uint16_t port,
                                                       std::string fingerprint, std::string secret,
                                                       SubscriptionClient::Timing timing,
                                                       bool acceptsSecret,
                                                       SubscriptionClient::Deliver deliver,
                                                       ListenLoop::AttemptCallbacks callbacks) {
    return std::make_unique<SubscriptionAttempt>(std::move(host), port, std::move(fingerprint),
                                                 std::move(secret), timing, acceptsSecret,
                                                 std::move(deliver), std::move(callbacks));
}

}  // namespace kestrune::phone
