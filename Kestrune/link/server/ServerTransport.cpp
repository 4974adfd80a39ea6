#include "Kestrune/link/server/ServerTransport.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <boost/asio/buffered_read_stream.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <deque>

#include "Kestrune/link/server/AcceptPause.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

constexpr std::string_view kLogCategory = "RemoteInputServer";

// When the process runs out of descriptors, accepting again at once would spin; a short pause
// lets closing connections give theirs back.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(100);

std::string openSslErrorText() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown TLS error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

void setIntOption(int fd, int level, int name, int value) {
    // A refused option leaves the system default, which is only less eager to notice dead peers.
    (void)::setsockopt(fd, level, name, &value, sizeof value);
}

void configureAcceptedSocket(tcp::socket& socket, const ListenerOptions& options) {
    const int fd = socket.native_handle();
    setIntOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setIntOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, options.keepAliveIdleSeconds);
    setIntOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, options.keepAliveIntervalSeconds);
    setIntOption(fd, IPPROTO_TCP, TCP_KEEPCNT, options.keepAliveProbes);
    // Acknowledgements are small and answer a waiting phone: send them without delay.
    setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
}

bool isDescriptorShortage(const boost::system::error_code& error) {
    return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
           error == asio::error::no_memory || error.value() == ENFILE;
}

// The TLS layer asks its socket for one record at a time (at most 17 KiB); a picture chunk's
// message is six records, so without this each record cost its own receive and its own wait. One
// receive of up to this many bytes takes every record that has arrived (a whole chunk's message,
// about 88 KB, and the start of the next), and the TLS layer then reads them from memory. Each
// connection holds this much from its acceptance; connections are few and short-lived when refused.
constexpr std::size_t kReadAheadBytes = 128 * 1024;

struct AcceptedSocket {
    asio::io_context& io;
    tcp::socket socket;
};

// The accepted socket with a read-ahead buffer under TLS. Writes go straight through.
class ReadAheadSocket : public asio::buffered_read_stream<tcp::socket> {
  public:
    // The buffer makes its own socket on the context; the accepted one then takes its place.
    explicit ReadAheadSocket(AcceptedSocket accepted)
        : asio::buffered_read_stream<tcp::socket>(accepted.io, kReadAheadBytes) {
        next_layer() = std::move(accepted.socket);
    }
};

// Beast's closing handshake ends by tearing the transport down; for this one that is the socket's
// own teardown (what is still buffered after a close frame is of no interest). Found by
// argument-dependent lookup.
template <class TeardownHandler>
void async_teardown(beast::role_type role, ReadAheadSocket& socket, TeardownHandler&& handler) {
    websocket::async_teardown(role, socket.next_layer(), std::forward<TeardownHandler>(handler));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TLS context

struct TlsServerContext::Impl {
    asio::ssl::context context{asio::ssl::context::tls_server};
};

TlsServerContext::TlsServerContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsServerContext::~TlsServerContext() = default;

Result<std::shared_ptr<TlsServerContext>, std::string> TlsServerContext::make(
    const TLSIdentity& identity) {
    auto impl = std::make_unique<Impl>();
    SSL_CTX* ctx = impl->context.native_handle();
    ERR_clear_error();
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1) {
        return std::string("TLS 1.2 is not available: ") + openSslErrorText();
    }
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (!identity.configure(ctx)) {
        return std::string("the TLS identity cannot be used: ") + openSslErrorText();
    }
    return std::shared_ptr<TlsServerContext>(new TlsServerContext(std::move(impl)));
}

// ---------------------------------------------------------------------------------------------
// Connection

namespace {

class BeastConnection final : public WebSocketConnection {
  public:
    BeastConnection(asio::io_context& io, tcp::socket socket, std::shared_ptr<TlsServerContext> tls,
                    std::size_t maxMessageBytes)
        : tls_(std::move(tls)), ws_(AcceptedSocket{io, std::move(socket)}, tls_->impl().context) {
        boost::system::error_code error;
        const auto remote = beast::get_lowest_layer(ws_).remote_endpoint(error);
        if (!error) peerHost_ = remote.address().to_string();
        ws_.read_message_max(maxMessageBytes);
        // One message, one frame: the phone reads frames, not a fragment stream.
        ws_.auto_fragment(false);
        ws_.text(true);
    }

    void start(StateHandler onState) override {
        onState_ = std::move(onState);
        ws_.next_layer().async_handshake(
            asio::ssl::stream_base::server,
            [self = shared()](const boost::system::error_code& error) {
                if (error) return self->fail("TLS handshake failed: " + error.message());
                self->acceptUpgrade();
            });
    }

    void receive(ReceiveHandler handler) override {
        pendingReceive_ = std::move(handler);
        if (state_ == State::ready) readNext();
        if (isFinished()) deliverFinished();
    }

    void send(std::string text) override {
        if (isFinished() || closeQueued_) return;
        outgoing_.push_back(Outgoing{std::move(text), false, 0, true, {}});
        writeNext();
    }

    void sendClose(std::uint16_t code, bool awaitAnswer, std::function<void()> sent) override {
        if (isFinished() || closeQueued_) {
            if (sent) asio::post(ws_.get_executor(), std::move(sent));
            return;
        }
        closeQueued_ = true;
        outgoing_.push_back(Outgoing{{}, true, code, awaitAnswer, std::move(sent)});
        writeNext();
    }

    void cancel() override {
        if (isFinished()) return;
        shutSocket();
        setState(State::cancelled, {});
    }

    State state() const override { return state_; }
    const std::string& peerHost() const override { return peerHost_; }

  private:
    struct Outgoing {
        std::string text;
        bool isClose = false;
        std::uint16_t code = 0;
        bool awaitAnswer = true;
        std::function<void()> sent;
    };

    std::shared_ptr<BeastConnection> shared() {
        return std::static_pointer_cast<BeastConnection>(shared_from_this());
    }

    bool isFinished() const { return state_ == State::failed || state_ == State::cancelled; }

    void acceptUpgrade() {
        if (isFinished()) return;
        ws_.async_accept([self = shared()](const boost::system::error_code& error) {
            if (error) return self->fail("WebSocket upgrade failed: " + error.message());
            if (self->isFinished()) return;
            self->setState(State::ready, {});
            if (self->pendingReceive_) self->readNext();
            self->writeNext();
        });
    }

    void readNext() {
        if (reading_ || !pendingReceive_ || state_ != State::ready) return;
        reading_ = true;
        ws_.async_read(
            readBuffer_, [self = shared()](const boost::system::error_code& error, std::size_t) {
                self->reading_ = false;
                auto handler = std::exchange(self->pendingReceive_, {});
                Incoming incoming;
                if (error == websocket::error::closed) {
                    incoming.kind = Incoming::Kind::closeFrame;
                } else if (error) {
                    incoming.kind = Incoming::Kind::error;
                    incoming.payload = error.message();
                    self->fail("receive failed: " + error.message());
                } else {
                    incoming.kind = Incoming::Kind::message;
                    const auto data = self->readBuffer_.cdata();
                    incoming.payload.assign(static_cast<const char*>(data.data()), data.size());
                    self->readBuffer_.consume(self->readBuffer_.size());
                }
                if (handler) handler(std::move(incoming));
            });
    }

    // A receive asked for after the connection ended gets the end at once, so no loop hangs.
    void deliverFinished() {
        auto handler = std::exchange(pendingReceive_, {});
        if (!handler) return;
        asio::post(ws_.get_executor(), [handler = std::move(handler)] {
            handler(Incoming{Incoming::Kind::error, "connection ended"});
        });
    }

    void writeNext() {
        if (writing_ || outgoing_.empty() || state_ != State::ready) return;
        writing_ = true;
        Outgoing& next = outgoing_.front();
        if (next.isClose) {
            if (!next.awaitAnswer) {
                // Beast waits for the peer's close after writing ours, bounded by the handshake
                // time-out; with none left, the socket is shut once the frame has been written
                // (it goes out as the write starts, before the expired timer is served).
                websocket::stream_base::timeout timeouts{};
                timeouts.handshake_timeout = std::chrono::seconds(0);
                timeouts.idle_timeout = websocket::stream_base::none();
                timeouts.keep_alive_pings = false;
                ws_.set_option(timeouts);
            }
            // Nothing follows a close; its completion is held here, not in the queue, so that a
            // failing read that empties the queue cannot take it away from under the close.
            const auto code = next.code;
            auto sent = std::move(next.sent);
            outgoing_.clear();
            ws_.async_close(
                websocket::close_reason(code),
                [self = shared(), sent = std::move(sent)](const boost::system::error_code&) {
                    self->writing_ = false;
                    if (sent) sent();
                });
            return;
        }
        ws_.async_write(asio::buffer(next.text),
                        [self = shared()](const boost::system::error_code& error, std::size_t) {
                            self->writing_ = false;
                            if (error) {
                                self->failWrites();
                                return;
                            }
                            self->outgoing_.pop_front();
                            self->writeNext();
                        });
    }

    // A failed send is dropped silently, and so is everything queued behind it except a close,
    // whose owner waits to hear that it is over.
    void failWrites() {
        std::function<void()> closeSent;
        for (auto& item : outgoing_) {
            if (item.isClose) closeSent = std::move(item.sent);
        }
        outgoing_.clear();
        if (closeSent) closeSent();
    }

    void fail(const std::string& reason) {
        if (isFinished()) return;
        shutSocket();
        setState(State::failed, reason);
        failWrites();
        if (pendingReceive_ && !reading_) deliverFinished();
    }

    void shutSocket() {
        boost::system::error_code ignored;
        auto& socket = beast::get_lowest_layer(ws_);
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

    void setState(State state, std::string reason) {
        state_ = state;
        if (!onState_) return;
        // Reported from the queue rather than from inside the caller, so a handler that closes
        // or forgets the connection never runs in the middle of another operation on it.
        asio::post(ws_.get_executor(), [self = shared(), state, reason = std::move(reason)] {
            if (self->onState_) self->onState_(state, reason);
            if (state == State::failed || state == State::cancelled) {
                self->onState_ = nullptr;
            }
        });
    }

    std::shared_ptr<TlsServerContext> tls_;
    // Beast's wrapper writes a frame's header and payload as one TLS record, not two.
    websocket::stream<beast::ssl_stream<ReadAheadSocket>> ws_;
    State state_ = State::preparing;
    StateHandler onState_;
    ReceiveHandler pendingReceive_;
    bool reading_ = false;
    beast::flat_buffer readBuffer_;
    std::deque<Outgoing> outgoing_;
    bool writing_ = false;
    bool closeQueued_ = false;
    std::string peerHost_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Listener

struct WebSocketListener::Impl : std::enable_shared_from_this<WebSocketListener::Impl> {
    Impl(asio::io_context& io, ListenerOptions options, std::shared_ptr<TlsServerContext> tls)
        : io(io), acceptor(io), backoff(io), options(std::move(options)), tls(std::move(tls)) {}

    void acceptOne() {
        if (cancelled) return;
        acceptor.async_accept([self = shared_from_this()](const boost::system::error_code& error,
                                                          tcp::socket socket) {
            self->accepted(error, std::move(socket));
        });
    }

    void accepted(const boost::system::error_code& error, tcp::socket socket) {
        if (cancelled || error == asio::error::operation_aborted) return;
        if (isDescriptorShortage(error)) {
            pause.pausedAgain(error.message());
            backoff.expires_after(kAcceptBackoff);
            backoff.async_wait([self = shared_from_this()](const boost::system::error_code& e) {
                if (!e) self->acceptOne();
            });
            return;
        }
        reportPause();
        if (error == asio::error::connection_aborted || error == asio::error::connection_reset) {
            return acceptOne();
        }
        if (error) {
            cancelled = true;
            if (onFailed) onFailed(error.message());
            return;
        }
        configureAcceptedSocket(socket, options);
        auto connection =
            std::make_shared<BeastConnection>(io, std::move(socket), tls, options.maxMessageBytes);
        if (onAccept) onAccept(std::move(connection));
        acceptOne();
    }

    // One warning per shortage, when it is over: a pause repeats ten times a second while it lasts.
    void reportPause() {
        if (auto line = pause.ended()) log(LogLevel::warning, kLogCategory, *line);
    }

    asio::io_context& io;
    AcceptPause pause;
    tcp::acceptor acceptor;
    asio::steady_timer backoff;
    ListenerOptions options;
    std::shared_ptr<TlsServerContext> tls;
    AcceptHandler onAccept;
    FailureHandler onFailed;
    bool cancelled = false;
};

WebSocketListener::WebSocketListener(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

WebSocketListener::~WebSocketListener() {
    cancel();
}

Result<std::unique_ptr<WebSocketListener>, std::string> WebSocketListener::open(
    asio::io_context& io, const ListenerOptions& options, std::shared_ptr<TlsServerContext> tls) {
    auto impl = std::make_shared<Impl>(io, options, std::move(tls));
    const auto address =
        options.loopbackOnly ? asio::ip::address_v4::loopback() : asio::ip::address_v4::any();
    const tcp::endpoint endpoint(address, options.port.value_or(0));
    boost::system::error_code error;
    impl->acceptor.open(endpoint.protocol(), error);
    // Lets a restart take back its port while old connections linger in TIME_WAIT; a port that
    // another socket listens on stays refused.
    if (!error) impl->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) impl->acceptor.bind(endpoint, error);
    if (!error) impl->acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) return error.message();
    return std::unique_ptr<WebSocketListener>(new WebSocketListener(std::move(impl)));
}

std::uint16_t WebSocketListener::port() const {
    boost::system::error_code error;
    const auto endpoint = impl_->acceptor.local_endpoint(error);
    return error ? 0 : endpoint.port();
}

void WebSocketListener::acceptLoop(AcceptHandler onAccept, FailureHandler onFailed) {
    impl_->onAccept = std::move(onAccept);
    impl_->onFailed = std::move(onFailed);
    impl_->acceptOne();
}

void WebSocketListener::cancel() {
    if (impl_->cancelled) return;
    impl_->cancelled = true;
    impl_->onAccept = nullptr;
    impl_->onFailed = nullptr;
    impl_->reportPause();
    boost::system::error_code ignored;
    impl_->backoff.cancel();
    impl_->acceptor.close(ignored);
}

}  // namespace kestrune
