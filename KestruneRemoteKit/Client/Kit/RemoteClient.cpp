#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <deque>

#include "KestruneRemoteKit/Client/Kit/PinnedLink.hpp"
#include "KestruneRemoteKit/L10n/KitTexts.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {

namespace asio = boost::asio;
using linkdetail::PinnedLink;
using Failure = RemoteClient::Failure;
using Reply = Result<RemoteMessage, Failure>;
using EncodedMessage = Result<std::string, RemoteMessage::EncodingFailure>;

namespace {

// How long the client's thread stays awake, polling, after each piece of work. Requests go one
// after another and the computer usually answers within tens of microseconds on a local network:
// catching the answer awake spares a sleep and a wake-up per request (the wake-up from an idle
// processor alone costs tens of microseconds on a virtual machine). Costs at most this much
// processor time per request.
constexpr auto kPollAfterWork = std::chrono::microseconds(100);

// Normal closure: the phone is done with this link.
constexpr std::uint16_t kNormalClosure = 1000;

// Codes after which the computer ends the connection, and codes this phone does not know: either
// way the link cannot be trusted for the next request.
bool dropsLink(const std::string& code) {
    const auto known = remoteErrorFromRaw(code);
    return !known || closesConnection(*known);
}

}  // namespace

struct RemoteClient::Impl : std::enable_shared_from_this<Impl> {
    struct Link {
        std::shared_ptr<PinnedLink> socket;
        std::chrono::steady_clock::time_point lastActivity;
        std::deque<Reply> inbox;
        std::function<void(Reply)> waiter;
        bool dead = false;
    };

    Impl(asio::io_context& io, std::string host, std::uint16_t port, std::string fingerprint,
         Timing timing, SteadyNow now)
        : context(io),
          host(std::move(host)),
          port(port),
          fingerprint(std::move(fingerprint)),
          timing(timing),
          now(std::move(now)),
          hasUrl(PairingPayload::isConnectableHost(this->host)) {}

    asio::io_context& context;
    const std::string host;
    const std::uint16_t port;
    const std::string fingerprint;
    const Timing timing;
    const SteadyNow now;
    const bool hasUrl;

    // State below is touched on the queue only.
    std::shared_ptr<Link> link;
    std::optional<std::string> secret;
    std::deque<std::function<void()>> operations;
    bool running = false;
    bool isClosed = false;

    asio::io_context& io() { return context; }

    // Runs `body` after every operation queued before it has finished; a closed client fails it.
    template <typename T>
    void exclusive(Completion<T> done, std::function<void(Completion<T>)> body) {
        auto self = shared_from_this();
        asio::post(io(), [self, done = std::move(done), body = std::move(body)]() mutable {
            self->operations.push_back(
                [self, done = std::move(done), body = std::move(body)]() mutable {
                    auto finish = [self, done = std::move(done)](Result<T, Failure> result) {
                        if (done) done(std::move(result));
                        self->runNextLater();
                    };
                    if (self->isClosed) return finish(Failure::disconnected());
                    body(std::move(finish));
                });
            if (!self->running) self->runNext();
        });
    }

    void runNext() {
        if (operations.empty()) {
            running = false;
            return;
        }
        running = true;
        auto operation = std::move(operations.front());
        operations.pop_front();
        operation();
    }

    void runNextLater() {
        asio::post(io(), [self = shared_from_this()] { self->runNext(); });
    }

    void dropLink() {
        if (!link) return;
        auto dropped = std::move(link);
        link.reset();
        dropped->dead = true;
        dropped->socket->close(kNormalClosure);
        if (auto waiter = std::move(dropped->waiter)) {
            dropped->waiter = nullptr;
            waiter(Failure::disconnected());
        }
    }

    void openLink(Completion<void> done) {
        dropLink();
        if (isClosed) return done(Failure::disconnected());
        if (!hasUrl) return done(Failure::unreachable(std::string(kitTextInvalidQRAddress)));
        auto opening = std::make_shared<Link>();
        opening->socket = PinnedLink::make(io(), {host, port, fingerprint, kMaxPhoneMessageBytes});
        opening->lastActivity = now();
        link = opening;
        auto self = shared_from_this();
        // Held weakly: the socket keeps this handler, and must not keep itself alive through it.
        std::weak_ptr<Link> weakOpening = opening;
        opening->socket->open(
            timing.connectTimeout, [self, weakOpening, done = std::move(done)](
                                       std::optional<PinnedLink::OpenFailure> failure) {
                auto opening = weakOpening.lock();
                if (!opening || self->link != opening)
                    return done(Failure::disconnected());  // closed meanwhile
                if (failure) {
                    self->dropLink();
                    switch (failure->kind) {
                        case PinnedLink::OpenFailure::Kind::certificateMismatch:
                            return done(Failure::certificateMismatch());
                        case PinnedLink::OpenFailure::Kind::timedOut:
                            return done(
                                Failure::unreachable(std::string(kitTextConnectionTimedOut)));
                        case PinnedLink::OpenFailure::Kind::failed:
                            return done(Failure::unreachable(failure->message));
                    }
                }
                self->startReading(opening);
                done({});
            });
    }

    static void hand(Link& link, Reply reply) {
        if (auto waiter = std::move(link.waiter)) {
            link.waiter = nullptr;
            waiter(std::move(reply));
        } else {
            link.inbox.push_back(std::move(reply));
        }
    }

    void startReading(const std::shared_ptr<Link>& reading) {
        std::weak_ptr<Link> weak = reading;
        reading->socket->startReading(
            [weak](std::string frame) {
                auto link = weak.lock();
                if (!link) return;
                auto decoded = RemoteMessage::decode(frame);
                if (decoded) {
                    hand(*link, std::move(decoded).value());
                } else {
                    hand(*link, Failure::disconnected());
                }
            },
            [weak](boost::system::error_code) {
                auto link = weak.lock();
                if (!link) return;
                link->dead = true;
                if (auto waiter = std::move(link->waiter)) {
                    link->waiter = nullptr;
                    waiter(Failure::disconnected());
                }
            });
    }

    void exchange(const RemoteMessage& message, Duration timeout, Completion<RemoteMessage> done) {
        exchangeEncoded(message.encoded(), timeout, std::move(done));
    }

    // The same for a message already encoded (or that could not be).
    void exchangeEncoded(EncodedMessage encoded, Duration timeout, Completion<RemoteMessage> done) {
        if (!link || link->dead || !link->socket->isOpen()) return done(Failure::disconnected());
        if (!encoded) return done(Failure::disconnected());

        auto current = link;
        auto timer = std::make_shared<asio::steady_timer>(io(), timeout);
        auto settled = std::make_shared<bool>(false);
        auto self = shared_from_this();
        // The link is held weakly: this closure is kept by the link itself (its waiter, its
        // socket's send queue), and a strong hold would keep a dropped link alive for ever.
        std::weak_ptr<Link> weakCurrent = current;
        auto settle = [self, weakCurrent, timer, settled, done = std::move(done)](Reply reply,
                                                                                  bool timedOut) {
            if (*settled) return;
            *settled = true;
            timer->cancel();
            auto current = weakCurrent.lock();
            if (current) current->waiter = nullptr;
            if (reply) {
                if (current) current->lastActivity = self->now();
                return done(std::move(reply));
            }
            const bool mismatch = current && current->socket->rejectedMismatch();
            if (current && self->link == current) self->dropLink();
            if (timedOut) return done(Failure::timedOut());
            done(mismatch ? Failure::certificateMismatch() : Failure::disconnected());
        };

        timer->async_wait([settle](boost::system::error_code error) {
            if (!error) settle(Failure::timedOut(), true);
        });
        current->socket->send(std::move(encoded).value(),
                              [settle](boost::system::error_code error) {
                                  if (error) settle(Failure::disconnected(), false);
                              });
        if (!current->inbox.empty()) {
            auto reply = std::move(current->inbox.front());
            current->inbox.pop_front();
            return settle(std::move(reply), false);
        }
        current->waiter = [settle](Reply reply) { settle(std::move(reply), false); };
    }

    Result<std::optional<SavedImage>, Failure> expectOK(const RemoteMessage& reply) {
        if (const auto* ack = reply.as<RemoteMessage::Ack>()) {
            if (ack->ok) {
                if (!ack->saved) return std::optional<SavedImage>{};
                return std::optional<SavedImage>(SavedImage{*ack->saved, ack->savedIn});
            }
            if (ack->error) {
                if (dropsLink(*ack->error)) dropLink();
                return Failure::rejected(*ack->error);
            }
        }
        dropLink();
        return Failure::disconnected();
    }

    // Exchanges `message` and requires an ok.
    void request(const RemoteMessage& message, Duration timeout,
                 Completion<std::optional<SavedImage>> done) {
        requestEncoded(message.encoded(), timeout, std::move(done));
    }

    void requestEncoded(EncodedMessage encoded, Duration timeout,
                        Completion<std::optional<SavedImage>> done) {
        auto self = shared_from_this();
        exchangeEncoded(std::move(encoded), timeout,
                        [self, done = std::move(done)](Result<RemoteMessage, Failure> reply) {
                            if (!reply) return done(reply.error());
                            done(self->expectOK(reply.value()));
                        });
    }

    void ensureLink(Completion<void> done) {
        if (link && !link->dead && link->socket->isOpen() &&
            now() - link->lastActivity <= timing.staleAfter) {
            return done({});
        }
        auto self = shared_from_this();
        openLink([self, done = std::move(done)](Result<void, Failure> opened) {
            if (!opened || !self->secret) return done(std::move(opened));
            self->request(RemoteMessage::Hello{*self->secret}, self->timing.replyTimeout,
                          [done](Result<std::optional<SavedImage>, Failure> ok) {
                              if (!ok) return done(ok.error());
                              done({});
                          });
        });
    }

    void command(RemoteMessage message, Completion<void> done) {
        exclusive<void>(std::move(done), [self = shared_from_this(),
                                          message = std::move(message)](Completion<void> finish) {
            self->ensureLink([self, message, finish](Result<void, Failure> ready) {
                if (!ready) return finish(ready.error());
                self->request(message, self->timing.replyTimeout,
                              [finish](Result<std::optional<SavedImage>, Failure> ok) {
                                  if (!ok) return finish(ok.error());
                                  finish({});
                              });
            });
        });
    }

    // The message carrying chunk `index` of `data`, encoded; none past the last chunk.
    static std::optional<EncodedMessage> encodedChunk(const Bytes& data, const std::string& id,
                                                      std::int64_t index) {
        const std::size_t offset = static_cast<std::size_t>(index) * kImageChunkBytes;
        if (offset >= data.size()) return std::nullopt;
        const std::size_t length = std::min(kImageChunkBytes, data.size() - offset);
        const RemoteMessage chunk = RemoteMessage::ImageChunk{
            id, index,
            Bytes(data.begin() + static_cast<std::ptrdiff_t>(offset),
                  data.begin() + static_cast<std::ptrdiff_t>(offset + length))};
        return chunk.encoded();
    }

    // Sends chunk `index` (`encoded`, none past the last) and the ones after it, then the end.
    // Only one chunk is ever in flight, but the next one is encoded while the computer decodes
    // this one, so that the two sides work at the same time.
    void sendChunks(std::shared_ptr<const Bytes> data, std::string id, std::int64_t index,
                    std::optional<EncodedMessage> encoded, bool save,
                    Completion<std::optional<SavedImage>> done) {
        if (!encoded) {
            const Duration endTimeout = save ? timing.approvalTimeout : timing.replyTimeout;
            return request(RemoteMessage::ImageEnd{id}, endTimeout, std::move(done));
        }
        struct NextChunk {
            bool ready = false;
            std::optional<EncodedMessage> encoded;
        };
        auto next = std::make_shared<NextChunk>();
        auto prepareNext = [data, id, index, next] {
            if (next->ready) return;
            next->encoded = encodedChunk(*data, id, index + 1);
            next->ready = true;
        };
        auto self = shared_from_this();
        requestEncoded(std::move(*encoded), timing.replyTimeout,
                       [self, data, id, index, next, prepareNext, save,
                        done = std::move(done)](Result<std::optional<SavedImage>, Failure> ok) {
                           if (!ok) return done(ok.error());
                           // A reply may come before this call returns (one already waiting).
                           prepareNext();
                           self->sendChunks(data, id, index + 1, std::move(next->encoded), save,
                                            done);
                       });
        prepareNext();
    }
};

RemoteClient::RemoteClient(std::string host, std::uint16_t port, std::string fingerprint,
                           Timing timing, SteadyNow now)
    : queue_(std::make_unique<SerialQueue>("Kestrune.RemoteClient", kPollAfterWork)),
      impl_(std::make_shared<Impl>(queue_->context(), std::move(host), port, std::move(fingerprint),
                                   timing, std::move(now))) {}

RemoteClient::~RemoteClient() {
    queue_->sync([impl = impl_.get()] {
        impl->isClosed = true;
        impl->dropLink();
        // Operations still waiting end with `disconnected`; their closures hold the state, so
        // leaving them queued would keep it alive for ever.
        while (!impl->operations.empty()) impl->runNext();
    });
    // Handlers still pending on the queue are dropped with it, releasing what they hold.
    queue_.reset();
}

bool RemoteClient::hasUrl() const {
    return impl_->hasUrl;
}

void RemoteClient::pair(std::string token, std::string deviceName, Completion<std::string> done) {
    impl_->exclusive<std::string>(std::move(done), [self = impl_, token = std::move(token),
                                                    deviceName = std::move(deviceName)](
                                                       Completion<std::string> finish) {
        self->dropLink();
        self->secret.reset();
        self->openLink([self, token, deviceName, finish](Result<void, Failure> opened) {
            if (!opened) return finish(opened.error());
            self->exchange(RemoteMessage::Pair{token, deviceName}, self->timing.approvalTimeout,
                           [self, finish](Result<RemoteMessage, Failure> reply) {
                               if (!reply) return finish(reply.error());
                               if (const auto* paired = reply.value().as<RemoteMessage::Paired>()) {
                                   self->secret = paired->secret;
                                   return finish(paired->secret);
                               }
                               const auto* ack = reply.value().as<RemoteMessage::Ack>();
                               if (ack && !ack->ok && ack->error) {
                                   if (dropsLink(*ack->error)) self->dropLink();
                                   return finish(Failure::rejected(*ack->error));
                               }
                               finish(Failure::disconnected());
                           });
        });
    });
}

void RemoteClient::hello(std::string secret, Completion<void> done) {
    impl_->exclusive<void>(std::move(done),
                           [self = impl_, secret = std::move(secret)](Completion<void> finish) {
                               if (self->secret != secret) {
                                   self->dropLink();
                                   self->secret = secret;
                               }
                               self->ensureLink(std::move(finish));
                           });
}

void RemoteClient::adopt(std::string secret, Completion<void> done) {
    impl_->exclusive<void>(std::move(done),
                           [self = impl_, secret = std::move(secret)](Completion<void> finish) {
                               if (self->secret != secret) {
                                   self->dropLink();
                                   self->secret = secret;
                               }
                               finish({});
                           });
}

void RemoteClient::ensureConnected(Completion<void> done) {
    impl_->exclusive<void>(std::move(done), [self = impl_](Completion<void> finish) {
        self->ensureLink(std::move(finish));
    });
}

void RemoteClient::sendText(std::string text, Completion<void> done) {
    impl_->command(RemoteMessage::Text{std::move(text)}, std::move(done));
}

void RemoteClient::sendKey(RemoteKey key, Completion<void> done) {
    impl_->command(RemoteMessage::Key{std::string(rawValue(key))}, std::move(done));
}

void RemoteClient::sendSecret(std::string payload, bool enter, Completion<void> done) {
    impl_->command(RemoteMessage::Secret{std::move(payload), enter}, std::move(done));
}

void RemoteClient::sendImage(Bytes data, ImageFormat format, bool save,
                             Completion<std::optional<SavedImage>> done) {
    auto shared = std::make_shared<const Bytes>(std::move(data));
    impl_->exclusive<std::optional<SavedImage>>(
        std::move(done),
        [self = impl_, shared, format, save](Completion<std::optional<SavedImage>> finish) {
            self->ensureLink([self, shared, format, save, finish](Result<void, Failure> ready) {
                if (!ready) return finish(ready.error());
                const auto id = Uuid::random();
                if (!id) return finish(Failure::disconnected());
                const std::string imageId = id->uuidString();
                RemoteMessage begin = RemoteMessage::ImageBegin{
                    imageId, format, static_cast<std::int64_t>(shared->size()), save};
                self->request(begin, self->timing.replyTimeout,
                              [self, shared, imageId, save,
                               finish](Result<std::optional<SavedImage>, Failure> ok) {
                                  if (!ok) return finish(ok.error());
                                  self->sendChunks(shared, imageId, 0,
                                                   Impl::encodedChunk(*shared, imageId, 0), save,
                                                   finish);
                              });
            });
        });
}

void RemoteClient::close() {
    asio::post(impl_->io(), [self = impl_] {
        self->isClosed = true;
        self->dropLink();
    });
}

}  // namespace kestrune
