#include "tests/support/TestPhone.hpp"

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include "KestruneRemoteKit/Support/Crypto.hpp"

namespace kestrune::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct TestPhone::Impl {
    asio::io_context io;
    asio::ssl::context tls{asio::ssl::context::tls_client};
    std::unique_ptr<websocket::stream<asio::ssl::stream<tcp::socket>>> ws;
    beast::flat_buffer buffer;
    int pongs = 0;

    // Starts one asynchronous operation and runs the context until it completes or time runs out;
    // on time-out the socket is shut so the operation ends, and the error says timed_out.
    template <typename Start>
    boost::system::error_code run(Start start, Millis timeout) {
        std::optional<boost::system::error_code> result;
        start([&](const boost::system::error_code& error, auto&&...) { result = error; });
        const auto deadline = Clock::now() + timeout;
        io.restart();
        while (!result && Clock::now() < deadline) io.run_one_until(deadline);
        if (result) return *result;
        boost::system::error_code ignored;
        beast::get_lowest_layer(*ws).close(ignored);
        io.restart();
        while (!result) io.run_one();
        return asio::error::timed_out;
    }
};

TestPhone::TestPhone(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TestPhone::~TestPhone() = default;

std::unique_ptr<TestPhone> TestPhone::connect(std::uint16_t port,
                                              std::optional<std::string> expectedFingerprint,
                                              Millis timeout) {
    auto impl = std::make_unique<Impl>();
    impl->tls.set_verify_mode(asio::ssl::verify_none);
    impl->ws =
        std::make_unique<websocket::stream<asio::ssl::stream<tcp::socket>>>(impl->io, impl->tls);
    auto& ws = *impl->ws;
    ws.read_message_max(64 * 1024 * 1024);
    ws.control_callback([pongs = &impl->pongs](websocket::frame_type kind, std::string_view) {
        if (kind == websocket::frame_type::pong) ++*pongs;
    });
    const tcp::endpoint endpoint(asio::ip::address_v4::loopback(), port);
    auto error = impl->run(
        [&](auto handler) { beast::get_lowest_layer(ws).async_connect(endpoint, handler); },
        timeout);
    if (error) return nullptr;
    error = impl->run(
        [&](auto handler) {
            ws.next_layer().async_handshake(asio::ssl::stream_base::client, handler);
        },
        timeout);
    if (error) return nullptr;
    if (expectedFingerprint) {
        X509* certificate = SSL_get1_peer_certificate(ws.next_layer().native_handle());
        if (!certificate) return nullptr;
        unsigned char* der = nullptr;
        const int length = i2d_X509(certificate, &der);
        const std::string bytes(reinterpret_cast<const char*>(der), std::size_t(length));
        OPENSSL_free(der);
        X509_free(certificate);
        if (sha256Hex(bytes) != *expectedFingerprint) return nullptr;
    }
    error =
        impl->run([&](auto handler) { ws.async_handshake("127.0.0.1", "/", handler); }, timeout);
    if (error) return nullptr;
    return std::unique_ptr<TestPhone>(new TestPhone(std::move(impl)));
}

bool TestPhone::sendText(const std::string& text, Millis timeout) {
    impl_->ws->text(true);
    return !impl_->run([&](auto handler) { impl_->ws->async_write(asio::buffer(text), handler); },
                       timeout);
}

bool TestPhone::sendBinary(const std::string& bytes, Millis timeout) {
    impl_->ws->binary(true);
    const bool sent = !impl_->run(
        [&](auto handler) { impl_->ws->async_write(asio::buffer(bytes), handler); }, timeout);
    impl_->ws->text(true);
    return sent;
}

bool TestPhone::send(const RemoteMessage& message, Millis timeout) {
    const auto encoded = message.encoded();
    return encoded && sendText(encoded.value(), timeout);
}

TestPhone::Frame TestPhone::receiveFrame(Millis timeout) {
    Frame frame;
    const auto error =
        impl_->run([&](auto handler) { impl_->ws->async_read(impl_->buffer, handler); }, timeout);
    if (error == websocket::error::closed) {
        frame.kind = Frame::Kind::closed;
        frame.closeCode = impl_->ws->reason().code;
    } else if (error == asio::error::timed_out) {
        frame.kind = Frame::Kind::timeout;
    } else if (error) {
        frame.kind = Frame::Kind::error;
        frame.error = error.message();
        // A close frame that arrived before the error (e.g. the server hung up before our
        // reply to its close could be written).
        frame.closeCode = impl_->ws->reason().code;
    } else {
        frame.kind = Frame::Kind::message;
        frame.text = beast::buffers_to_string(impl_->buffer.data());
        impl_->buffer.consume(impl_->buffer.size());
    }
    return frame;
}

std::optional<RemoteMessage> TestPhone::receive(Millis timeout) {
    const auto frame = receiveFrame(timeout);
    if (frame.kind != Frame::Kind::message) return std::nullopt;
    auto decoded = RemoteMessage::decode(frame.text);
    if (!decoded) return std::nullopt;
    return std::move(decoded).value();
}

std::uint16_t TestPhone::awaitClose(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
        const auto frame = receiveFrame(left);
        if (frame.kind != Frame::Kind::message) return frame.closeCode;
    }
    return 0;
}

bool TestPhone::ping(Millis timeout) {
    return !impl_->run([&](auto handler) { impl_->ws->async_ping({}, handler); }, timeout);
}

int TestPhone::pongsReceived() const {
    return impl_->pongs;
}

bool TestPhone::authenticate(const std::string& secret) {
    if (!send(RemoteMessage::Hello{secret})) return false;
    const auto reply = receive();
    return reply && reply->is<RemoteMessage::Ack>() && reply->as<RemoteMessage::Ack>()->ok;
}

// ---------------------------------------------------------------------------------------------

std::unique_ptr<RawSocket> RawSocket::connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<RawSocket>(new RawSocket(fd));
}

RawSocket::~RawSocket() {
    ::close(fd_);
}

bool RawSocket::write(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

bool RawSocket::waitForClose(TestPhone::Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    char scratch[4096];
    while (Clock::now() < deadline) {
        pollfd entry{fd_, POLLIN, 0};
        const auto left = std::chrono::duration_cast<TestPhone::Millis>(deadline - Clock::now());
        if (::poll(&entry, 1, int(left.count())) <= 0) continue;
        const auto got = ::recv(fd_, scratch, sizeof scratch, 0);
        if (got <= 0) return true;
    }
    return false;
}

}  // namespace kestrune::testing
