#include "tests/support/ScriptedServer.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <set>
#include <stdexcept>

#include "KestruneRemoteKit/Support/Crypto.hpp"

namespace kestrune::testing {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

TestIdentity TestIdentity::make() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600L * 24);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("test computer"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_set_pubkey(certificate, key);
    if (key == nullptr || X509_sign(certificate, key, EVP_sha256()) == 0) {
        throw std::runtime_error("could not make a test certificate");
    }

    TestIdentity identity;
    BIO* pem = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(pem, certificate);
    identity.certificatePem = bioText(pem);
    BIO_free(pem);
    pem = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(pem, key, nullptr, nullptr, 0, nullptr, nullptr);
    identity.keyPem = bioText(pem);
    BIO_free(pem);

    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    identity.fingerprint =
        sha256Hex(std::string_view(reinterpret_cast<char*>(der), static_cast<std::size_t>(length)));
    OPENSSL_free(der);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return identity;
}

struct ScriptedServer::Shared {
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    int tcpAccepted = 0;
    int tlsCompleted = 0;
    int upgraded = 0;
    std::vector<Frame> frames;
    std::set<int> openFds;
    int heldFd = -1;
    bool released = false;
    bool stopping = false;
    std::vector<std::thread> threads;
};

ScriptedServer::ScriptedServer(Script script, Mode mode, TestIdentity identity)
    : script_(std::move(script)),
      mode_(mode),
      identity_(std::move(identity)),
      shared_(std::make_shared<Shared>()) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        throw std::runtime_error("could not listen on 127.0.0.1");
    }
    socklen_t size = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    std::vector<std::thread> threads;
    {
        std::lock_guard guard(shared_->lock);
        shared_->stopping = true;
        for (int fd : shared_->openFds) ::shutdown(fd, SHUT_RDWR);
        shared_->changed.notify_all();
    }
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptThread_.join();
    ::close(listenFd_);
    {
        std::lock_guard guard(shared_->lock);
        threads = std::move(shared_->threads);
    }
    for (auto& thread : threads) thread.join();
}

void ScriptedServer::acceptLoop() {
    for (int connection = 1;; ++connection) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::lock_guard guard(shared_->lock);
        if (shared_->stopping) {
            ::close(fd);
            return;
        }
        ++shared_->tcpAccepted;
        shared_->openFds.insert(fd);
        shared_->threads.emplace_back([this, connection, fd] { serve(connection, fd); });
        shared_->changed.notify_all();
    }
}

void ScriptedServer::serve(int connection, int fd) {
    asio::io_context io;
    asio::ssl::context tls(asio::ssl::context::tls_server);
    tls.use_certificate_chain(asio::buffer(identity_.certificatePem));
    tls.use_private_key(asio::buffer(identity_.keyPem), asio::ssl::context::pem);
    websocket::stream<asio::ssl::stream<tcp::socket>> ws(io, tls);
    auto forget = [&] {
        std::lock_guard guard(shared_->lock);
        shared_->openFds.erase(fd);
        if (shared_->heldFd == fd) shared_->heldFd = -1;
        shared_->changed.notify_all();
    };
    boost::system::error_code error;
    beast::get_lowest_layer(ws).assign(tcp::v4(), fd, error);

    if (mode_ == Mode::silentTcp) {  // accepts, then never says anything
        std::unique_lock guard(shared_->lock);
        shared_->changed.wait(guard, [&] { return shared_->stopping; });
        guard.unlock();
        forget();
        return;
    }

    ws.next_layer().handshake(asio::ssl::stream_base::server, error);
    if (error) return forget();
    {
        std::lock_guard guard(shared_->lock);
        ++shared_->tlsCompleted;
        shared_->changed.notify_all();
    }
    ws.read_message_max(64 * 1024 * 1024);
    ws.accept(error);
    if (error) return forget();
    {
        std::lock_guard guard(shared_->lock);
        ++shared_->upgraded;
        shared_->changed.notify_all();
    }

    beast::flat_buffer buffer;
    for (;;) {
        ws.read(buffer, error);
        if (error) break;
        Frame frame{connection, beast::buffers_to_string(buffer.data()), std::nullopt};
        buffer.consume(buffer.size());
        if (auto decoded = RemoteMessage::decode(frame.text)) frame.message = decoded.value();
        {
            std::lock_guard guard(shared_->lock);
            shared_->frames.push_back(frame);
            shared_->changed.notify_all();
        }
        bool closed = false;
        for (const Outgoing& outgoing : script_(connection, frame)) {
            if (outgoing.kind == Outgoing::Kind::hold) {
                std::unique_lock guard(shared_->lock);
                shared_->heldFd = fd;
                shared_->changed.notify_all();
                shared_->changed.wait(guard,
                                      [&] { return shared_->released || shared_->stopping; });
                shared_->heldFd = -1;
                continue;
            }
            if (outgoing.kind == Outgoing::Kind::close) {
                ws.close(websocket::close_reason(outgoing.closeCode), error);
                closed = true;
                break;
            }
            ws.text(true);
            const std::string text = outgoing.kind == Outgoing::Kind::raw
                                         ? outgoing.raw
                                         : outgoing.message->encoded().value();
            ws.write(asio::buffer(text), error);
            if (error) break;
        }
        if (closed || error) break;
    }
    forget();
}

int ScriptedServer::tcpAccepted() const {
    std::lock_guard guard(shared_->lock);
    return shared_->tcpAccepted;
}

int ScriptedServer::tlsCompleted() const {
    std::lock_guard guard(shared_->lock);
    return shared_->tlsCompleted;
}

int ScriptedServer::upgraded() const {
    std::lock_guard guard(shared_->lock);
    return shared_->upgraded;
}

std::vector<ScriptedServer::Frame> ScriptedServer::frames() const {
    std::lock_guard guard(shared_->lock);
    return shared_->frames;
}

std::vector<ScriptedServer::Frame> ScriptedServer::framesOf(int connection) const {
    std::lock_guard guard(shared_->lock);
    std::vector<Frame> result;
    for (const auto& frame : shared_->frames) {
        if (frame.connection == connection) result.push_back(frame);
    }
    return result;
}

bool ScriptedServer::holding() const {
    std::lock_guard guard(shared_->lock);
    return shared_->heldFd >= 0;
}

std::size_t ScriptedServer::pendingBytesWhileHeld() const {
    std::lock_guard guard(shared_->lock);
    if (shared_->heldFd < 0) return 0;
    int count = 0;
    ::ioctl(shared_->heldFd, FIONREAD, &count);
    return static_cast<std::size_t>(count);
}

bool ScriptedServer::waitUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds limit) const {
    std::unique_lock guard(shared_->lock);
    // The condition reads through the public accessors, which take the lock themselves.
    auto holds = [&] {
        guard.unlock();
        const bool result = condition();
        guard.lock();
        return result;
    };
    // Checked again now and then as well, since a change may land while the lock is let go.
    constexpr auto recheck = std::chrono::milliseconds(20);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        shared_->changed.wait_for(guard, recheck);
    }
    return true;
}

void ScriptedServer::release() {
    std::lock_guard guard(shared_->lock);
    shared_->released = true;
    shared_->changed.notify_all();
}

}  // namespace kestrune::testing
