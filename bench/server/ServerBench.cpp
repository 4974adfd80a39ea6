// Prints how fast the phone-link server answers a phone, as a phone meets it: the server runs in
// murrelo-test-host, a process of its own (its owner succeeds at once and writes nothing per
// command), and this program is a plain blocking phone over TLS WebSocket on loopback. Workloads:
// `text` -> `ack` round trips, and a 30 MiB picture sent in 480 acknowledged chunks. Besides the
// rates it prints the context switches of both processes per round trip (each is a thread put to
// sleep and woken: the hand-offs a round trip costs), the server's processor time per round trip
// and its peak resident memory. The last line, "RESULT key=value …", is read by
// bench/anchors/side-by-side.
// `--short`: a tenth of the round trips, for a quick run that shows the program still works.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "bench/support/ProcessFigures.hpp"
#include "bench/support/TestHostProcess.hpp"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace kestrune;
using namespace murrelo::bench;

constexpr int kRoundTrips = 10'000;
constexpr int kShortRoundTrips = 1'000;
constexpr std::size_t kPictureBytes = 30 * 1024 * 1024;
constexpr std::size_t kChunkBytes = kPictureBytes / 480;
// Masking goes through this buffer: as large as a picture chunk's message, the message leaves in
// one write of whole TLS records rather than in twenty-odd 4 KiB pieces.
constexpr std::size_t kWriteBufferBytes = 128 * 1024;

// A blocking phone: enough for measuring, with no time-outs (the server under test is local).
class Phone {
  public:
    explicit Phone(std::uint16_t port) : ws_(io_, tls_) {
        tls_.set_verify_mode(asio::ssl::verify_none);
        beast::get_lowest_layer(ws_).connect({asio::ip::address_v4::loopback(), port});
        beast::get_lowest_layer(ws_).set_option(tcp::no_delay(true));
        ws_.next_layer().handshake(asio::ssl::stream_base::client);
        ws_.handshake("127.0.0.1", "/");
        ws_.auto_fragment(false);
        ws_.write_buffer_bytes(kWriteBufferBytes);
        ws_.read_message_max(kMaxComputerMessageBytes);
    }

    void send(const RemoteMessage& message) {
        const auto encoded = message.encoded();
        if (!encoded) std::abort();
        ws_.write(asio::buffer(encoded.value()));
    }

    RemoteMessage receive() {
        buffer_.consume(buffer_.size());
        ws_.read(buffer_);
        const auto data = buffer_.cdata();
        auto decoded = RemoteMessage::decode({static_cast<const char*>(data.data()), data.size()});
        if (!decoded) std::abort();
        return std::move(decoded).value();
    }

    void expectOk() {
        const auto reply = receive();
        const auto* ack = reply.as<RemoteMessage::Ack>();
        if (!ack || !ack->ok) {
            std::fprintf(stderr, "unexpected reply %s\n", std::string(reply.typeName()).c_str());
            std::exit(1);
        }
    }

  private:
    asio::io_context io_;
    asio::ssl::context tls_{asio::ssl::context::tls_client};
    // Beast's wrapper writes a frame's header and payload as one TLS record, not two.
    beast::websocket::stream<beast::ssl_stream<tcp::socket>> ws_;
    beast::flat_buffer buffer_;
};

double seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool isShort = argc > 1 && std::string_view(argv[1]) == "--short";
    const int roundTrips = isShort ? kShortRoundTrips : kRoundTrips;
    auto host = TestHostProcess::start();
    if (!host) return std::fputs("the test host did not start\n", stderr), 1;

    Phone phone(host->port());
    phone.send(RemoteMessage::Pair{host->pairingToken(), "Bench"});
    if (!phone.receive().is<RemoteMessage::Paired>()) {
        return std::fputs("pairing failed\n", stderr), 1;
    }

    const auto textStart = Clock::now();
    const auto textSwitchesStart = contextSwitchesWith(host->pid());
    const auto textProcessorStart = processorNanoseconds(host->pid());
    for (int i = 0; i < roundTrips; ++i) {
        phone.send(RemoteMessage::Text{"hello from the phone"});
        phone.expectOk();
    }
    const double textSeconds = seconds(Clock::now() - textStart);
    const double textSwitches =
        double(contextSwitchesWith(host->pid()) - textSwitchesStart) / roundTrips;
    const double serverMicroseconds =
        double(processorNanoseconds(host->pid()) - textProcessorStart) / 1000.0 / roundTrips;
    const double perSecond = roundTrips / textSeconds;
    std::printf(
        "text round trips: %d in %.3f s = %.0f per second; %.2f context switches each; server "
        "processor time %.1f us each\n",
        roundTrips, textSeconds, perSecond, textSwitches, serverMicroseconds);

    Bytes chunk(kChunkBytes);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = std::uint8_t(i * 7);
    const auto pictureStart = Clock::now();
    const auto pictureSwitchesStart = contextSwitchesWith(host->pid());
    phone.send(
        RemoteMessage::ImageBegin{"bench", ImageFormat::jpeg, std::int64_t(kPictureBytes), false});
    phone.expectOk();
    for (std::int64_t index = 0; index < 480; ++index) {
        phone.send(RemoteMessage::ImageChunk{"bench", index, chunk});
        phone.expectOk();
    }
    phone.send(RemoteMessage::ImageEnd{"bench"});
    phone.expectOk();
    const double pictureSeconds = seconds(Clock::now() - pictureStart);
    const double chunkSwitches =
        double(contextSwitchesWith(host->pid()) - pictureSwitchesStart) / 480.0;
    const double mib = double(kPictureBytes) / (1024.0 * 1024.0);
    const double peakMiB = double(peakResidentBytes(host->pid())) / (1024.0 * 1024.0);
    std::printf(
        "picture upload: %.0f MiB in 480 chunks, %.3f s = %.0f MiB/s; %.2f context switches per "
        "chunk; server peak resident memory %.1f MiB\n",
        mib, pictureSeconds, mib / pictureSeconds, chunkSwitches, peakMiB);
    std::printf(
        "RESULT round_trips_per_s=%.0f switches_per_round_trip=%.2f upload_mib_per_s=%.1f "
        "switches_per_chunk=%.2f server_peak_rss_mib=%.1f server_us_per_round_trip=%.1f\n",
        perSecond, textSwitches, mib / pictureSeconds, chunkSwitches, peakMiB, serverMicroseconds);
    if (!host->stop()) return std::fputs("the test host did not quit cleanly\n", stderr), 1;
    return 0;
}
