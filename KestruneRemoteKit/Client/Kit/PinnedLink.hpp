#pragma once

// Private to the client kit (included by its .cpp files only): one TLS WebSocket to a paired
// computer whose certificate is accepted only when the SHA-256 of the leaf's DER bytes equals the
// pinned fingerprint. No system trust store takes part. Used from one io_context thread only.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::linkdetail {

// Lets a closing handshake finish politely before the socket is cut; a computer that went away
// never answers the close frame.
inline constexpr std::chrono::milliseconds kCloseGrace{1000};

class PinnedLink : public std::enable_shared_from_this<PinnedLink> {
  public:
    struct Endpoint {
        std::string host;
        std::uint16_t port = 0;
        std::string fingerprint;  // 64 hex characters, any letter case
        std::size_t maxMessageBytes = 0;
    };

    struct OpenFailure {
        enum class Kind { certificateMismatch, timedOut, failed };
        Kind kind = Kind::failed;
        std::string message;  // the system's description for `failed`
    };

    using OpenHandler = std::function<void(std::optional<OpenFailure>)>;
    using FrameHandler = std::function<void(std::string frame)>;
    using ErrorHandler = std::function<void(boost::system::error_code)>;
    using SendHandler = std::function<void(boost::system::error_code)>;

    static std::shared_ptr<PinnedLink> make(boost::asio::io_context& io, Endpoint endpoint);
    ~PinnedLink();

    // Resolves, connects, runs TLS with the pin and the WebSocket handshake, all within `timeout`.
    void open(Duration timeout, OpenHandler done);

    // Receives frames one after another until the link fails or closes.
    void startReading(FrameHandler onFrame, ErrorHandler onError);

    // Queues one text frame; frames go out in call order, one write at a time.
    void send(std::string text, SendHandler done = {});

    // Sends a close frame with `code` and cuts the socket once answered or after kCloseGrace.
    void close(std::uint16_t code);

    bool isOpen() const { return open_ && !closing_; }
    bool rejectedMismatch() const { return pin_->rejectedMismatch; }

    struct PinState {
        std::string fingerprint;  // lower case
        bool rejectedMismatch = false;
    };

  private:
    using WebSocket =
        boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

    PinnedLink(boost::asio::io_context& io, Endpoint endpoint);
    void finishOpen(boost::system::error_code error);
    void readNext();
    void writeNext();
    void cut();

    struct Outgoing {
        std::string text;
        SendHandler done;
    };

    boost::asio::io_context& io_;
    Endpoint endpoint_;
    std::unique_ptr<PinState> pin_;
    boost::asio::ssl::context tls_;
    boost::asio::ip::tcp::resolver resolver_;
    WebSocket ws_;
    boost::asio::steady_timer openTimer_;
    boost::asio::steady_timer graceTimer_;
    boost::beast::flat_buffer buffer_;
    std::deque<Outgoing> outgoing_;
    OpenHandler openHandler_;
    FrameHandler onFrame_;
    ErrorHandler onError_;
    bool open_ = false;
    bool closing_ = false;
    bool timedOut_ = false;
    bool writing_ = false;
};

}  // namespace kestrune::linkdetail
