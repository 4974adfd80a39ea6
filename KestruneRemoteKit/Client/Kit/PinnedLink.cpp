#include "KestruneRemoteKit/Client/Kit/PinnedLink.hpp"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "KestruneRemoteKit/Protocol/Utf8.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "KestruneRemoteKit/Support/Crypto.hpp"

namespace kestrune::linkdetail {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using boost::system::error_code;

namespace {

// A client masks what it sends through this buffer. A picture chunk's message (64 KiB as base64
// in JSON, about 88 KB) fits whole, so it is masked and handed to TLS in one write: one frame,
// written as full TLS records, rather than two writes with a short record between them.
constexpr std::size_t kWriteBufferBytes = 128 * 1024;
static_assert((kImageChunkBytes + 2) / 3 * 4 + 1024 < kWriteBufferBytes,
              "a picture chunk's message must fit the write buffer whole");

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Replaces OpenSSL's whole chain evaluation: the pin alone decides, so a self-signed certificate
// is fine and a certificate signed by any public authority is refused unless it is the pinned one.
int verifyPinnedLeaf(X509_STORE_CTX* store, void* argument) {
    auto* pin = static_cast<PinnedLink::PinState*>(argument);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (leaf != nullptr) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(leaf, &der);
        if (length > 0) {
            const std::string digest = sha256Hex(std::string_view(
                reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)));
            OPENSSL_free(der);
            if (digest == pin->fingerprint) return 1;
        }
    }
    pin->rejectedMismatch = true;
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

}  // namespace

std::shared_ptr<PinnedLink> PinnedLink::make(asio::io_context& io, Endpoint endpoint) {
    return std::shared_ptr<PinnedLink>(new PinnedLink(io, std::move(endpoint)));
}

PinnedLink::PinnedLink(asio::io_context& io, Endpoint endpoint)
    : io_(io),
      endpoint_(std::move(endpoint)),
      pin_(std::make_unique<PinState>(PinState{lowerCased(endpoint_.fingerprint), false})),
      tls_(asio::ssl::context::tls_client),
      resolver_(io),
      ws_(io, tls_),
      openTimer_(io),
      graceTimer_(io) {
    SSL_CTX* native = tls_.native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_cert_verify_callback(native, &verifyPinnedLeaf, pin_.get());
    // The context above is copied into the stream's SSL object at construction; verification mode
    // is per connection.
    ws_.next_layer().set_verify_mode(asio::ssl::verify_peer);
    ws_.read_message_max(endpoint_.maxMessageBytes);
    // One message, one frame.
    ws_.auto_fragment(false);
    ws_.write_buffer_bytes(kWriteBufferBytes);
}

PinnedLink::~PinnedLink() = default;

void PinnedLink::open(Duration timeout, OpenHandler done) {
    openHandler_ = std::move(done);
    auto self = shared_from_this();
    openTimer_.expires_after(timeout);
    openTimer_.async_wait([self](error_code error) {
        if (error || self->open_ || !self->openHandler_) return;
        self->timedOut_ = true;
        self->resolver_.cancel();
        beast::get_lowest_layer(self->ws_).close();
    });
    resolver_.async_resolve(
        endpoint_.host, std::to_string(endpoint_.port),
        [self](error_code error, asio::ip::tcp::resolver::results_type results) {
            if (error || self->closing_)
                return self->finishOpen(error ? error : asio::error::operation_aborted);
            beast::get_lowest_layer(self->ws_).async_connect(
                results, [self](error_code error, const asio::ip::tcp::endpoint&) {
                    if (error || self->closing_)
                        return self->finishOpen(error ? error : asio::error::operation_aborted);
                    // Requests wait for their reply: a message's last segment must not sit out
                    // the peer's delayed acknowledgement.
                    error_code ignored;
                    beast::get_lowest_layer(self->ws_).socket().set_option(
                        asio::ip::tcp::no_delay(true), ignored);
                    error_code notAnAddress;
                    asio::ip::make_address(self->endpoint_.host, notAnAddress);
                    if (notAnAddress) {  // a host name: tell the server which one we dial
                        SSL_set_tlsext_host_name(self->ws_.next_layer().native_handle(),
                                                 self->endpoint_.host.c_str());
                    }
                    self->ws_.next_layer().async_handshake(
                        asio::ssl::stream_base::client, [self](error_code error) {
                            if (error || self->closing_)
                                return self->finishOpen(error ? error
                                                              : asio::error::operation_aborted);
                            self->ws_.async_handshake(
                                self->endpoint_.host + ":" + std::to_string(self->endpoint_.port),
                                "/", [self](error_code error) { self->finishOpen(error); });
                        });
                });
        });
}

void PinnedLink::finishOpen(error_code error) {
    if (!openHandler_) return;
    openTimer_.cancel();
    auto handler = std::move(openHandler_);
    openHandler_ = nullptr;
    if (!error && !closing_) {
        open_ = true;
        handler(std::nullopt);
        return;
    }
    cut();
    if (pin_->rejectedMismatch)
        return handler(OpenFailure{OpenFailure::Kind::certificateMismatch, {}});
    if (timedOut_) return handler(OpenFailure{OpenFailure::Kind::timedOut, {}});
    handler(OpenFailure{OpenFailure::Kind::failed, error.message()});
}

void PinnedLink::startReading(FrameHandler onFrame, ErrorHandler onError) {
    onFrame_ = std::move(onFrame);
    onError_ = std::move(onError);
    readNext();
}

void PinnedLink::readNext() {
    auto self = shared_from_this();
    ws_.async_read(buffer_, [self](error_code error, std::size_t) {
        if (error) {
            self->open_ = false;
            auto onError = std::move(self->onError_);
            self->onFrame_ = nullptr;
            self->onError_ = nullptr;
            if (onError) onError(error);
            return;
        }
        std::string frame = beast::buffers_to_string(self->buffer_.data());
        self->buffer_.consume(self->buffer_.size());
        if (self->onFrame_) self->onFrame_(std::move(frame));
        self->readNext();
    });
}

void PinnedLink::send(std::string text, SendHandler done) {
    if (!isOpen()) {
        if (done) asio::post(io_, [done = std::move(done)] { done(asio::error::not_connected); });
        return;
    }
    // A text frame must hold valid UTF-8, or the computer drops the link.
    if (!detail::isValidUtf8(text)) text = detail::repairedUtf8(text);
    outgoing_.push_back(Outgoing{std::move(text), std::move(done)});
    if (!writing_) writeNext();
}

void PinnedLink::writeNext() {
    writing_ = true;
    ws_.text(true);
    auto self = shared_from_this();
    ws_.async_write(asio::buffer(outgoing_.front().text), [self](error_code error, std::size_t) {
        auto done = std::move(self->outgoing_.front().done);
        self->outgoing_.pop_front();
        self->writing_ = false;
        if (error) {
            auto failed = std::move(self->outgoing_);
            self->outgoing_.clear();
            if (done) done(error);
            for (auto& item : failed) {
                if (item.done) item.done(error);
            }
            return;
        }
        if (done) done(error);
        if (!self->outgoing_.empty() && !self->closing_) self->writeNext();
    });
}

void PinnedLink::close(std::uint16_t code) {
    if (closing_) return;
    closing_ = true;
    if (!open_) {
        resolver_.cancel();
        cut();
        return;
    }
    auto self = shared_from_this();
    ws_.async_close(websocket::close_reason(code), [self](error_code) { self->cut(); });
    graceTimer_.expires_after(kCloseGrace);
    graceTimer_.async_wait([self](error_code error) {
        if (!error) self->cut();
    });
}

void PinnedLink::cut() {
    open_ = false;
    graceTimer_.cancel();
    error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
}

}  // namespace kestrune::linkdetail
