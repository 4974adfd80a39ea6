// Prints how fast the server answers a phone on loopback: `text` -> `ack` round trips with an
// owner that succeeds at once, and a 30 MiB picture sent in 480 acknowledged chunks.
// `--short`: a tenth of the round trips, for a quick run that shows the program still works.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace kestrune;

constexpr int kRoundTrips = 10'000;
constexpr int kShortRoundTrips = 1'000;
constexpr std::size_t kPictureBytes = 30 * 1024 * 1024;
constexpr std::size_t kChunkBytes = kPictureBytes / 480;

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
        ws_.read_message_max(1 << 20);
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
    beast::  // Beast's wrapper writes a frame's header and payload as one TLS record, not two.
        websocket::stream<beast::ssl_stream<tcp::socket>>
            ws_;
    beast::flat_buffer buffer_;
};

double seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// CPU time of the whole process (client, server and owner threads): on a busy machine the wall
// clock mostly measures waiting for a core, this does not.
// CPU seconds of each thread of this process by name, from /proc (utime + stime in clock ticks).
std::map<std::string, double> threadCpuSeconds() {
    std::map<std::string, double> result;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream commFile(task.path() / "comm");
        std::string name;
        std::getline(commFile, name);
        std::ifstream statFile(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), {});
        // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int index = 3; fields >> field; ++index) {
            if (index == 14) utime = std::stod(field);
            if (index == 15) {
                stime = std::stod(field);
                break;
            }
        }
        result[name] += (utime + stime) / ticks;
    }
    return result;
}

void printThreadShares(const std::map<std::string, double>& before, double perUnit,
                       const char* unit) {
    for (const auto& [name, seconds] : threadCpuSeconds()) {
        const auto earlier = before.count(name) ? before.at(name) : 0.0;
        if (seconds - earlier > 0) {
            std::printf("    %-16s %8.1f %s\n", name.c_str(), (seconds - earlier) * perUnit, unit);
        }
    }
}

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const bool isShort = argc > 1 && std::string_view(argv[1]) == "--short";
    const int roundTrips = isShort ? kShortRoundTrips : kRoundTrips;
    const auto directory =
        std::filesystem::temp_directory_path() / ("server-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    TLSIdentityStore identityStore(directory);
    if (!identityStore.generate()) return 1;
    auto identity = identityStore.load();
    if (!identity) return 1;

    SerialQueue owner("Kestrune.BenchOwner");
    auto devices = std::make_shared<PairedDeviceStore>(directory / "devices.json");
    auto registration = devices->registerDevice("Bench", std::chrono::system_clock::now());
    if (!registration) return 1;

    RemoteInputServer::Configuration configuration{.identity = identity.value().identity};
    configuration.loopbackOnly = true;
    std::size_t pictureBytes = 0;
    RemoteInputServer server(
        configuration,
        {.devices = devices,
         .ownerQueue = owner,
         .executeCommand = [](RemoteMessage, auto completion) { completion(std::nullopt); },
         .receiveImage =
             [&pictureBytes](Bytes data, ImageFormat, bool, auto completion) {
                 pictureBytes = data.size();
                 completion({});
             }});
    std::promise<std::uint16_t> started;
    server.start([&](RemoteInputServer::StartResult result) {
        started.set_value(result.ok() ? result.value() : 0);
    });
    const auto port = started.get_future().get();
    if (port == 0) return 1;

    Phone phone(port);
    phone.send(RemoteMessage::Hello{registration.value().secret});
    phone.expectOk();

    const auto textStart = Clock::now();
    const double textCpuStart = processCpuSeconds();
    const auto textThreadsStart = threadCpuSeconds();
    for (int i = 0; i < roundTrips; ++i) {
        phone.send(RemoteMessage::Text{"hello from the phone"});
        phone.expectOk();
    }
    const double textSeconds = seconds(Clock::now() - textStart);
    const double textCpu = processCpuSeconds() - textCpuStart;
    std::printf(
        "text round trips: %d in %.3f s = %.0f per second (goal >= 25000); "
        "CPU %.1f us per round trip\n",
        roundTrips, textSeconds, roundTrips / textSeconds, textCpu * 1e6 / roundTrips);
    printThreadShares(textThreadsStart, 1e6 / roundTrips, "us CPU per round trip");

    Bytes chunk(kChunkBytes);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = std::uint8_t(i * 7);
    const auto pictureStart = Clock::now();
    const double pictureCpuStart = processCpuSeconds();
    const auto pictureThreadsStart = threadCpuSeconds();
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
    const double pictureCpu = processCpuSeconds() - pictureCpuStart;
    const double mib = double(kPictureBytes) / (1024.0 * 1024.0);
    std::printf(
        "picture upload: %.0f MiB in 480 chunks, %.3f s = %.0f MiB/s (goal >= 200); "
        "CPU %.3f s = %.0f MiB per CPU second\n",
        mib, pictureSeconds, mib / pictureSeconds, pictureCpu, mib / pictureCpu);
    printThreadShares(pictureThreadsStart, 1e3, "ms CPU");
    if (pictureBytes != kPictureBytes) {
        std::fprintf(stderr, "picture arrived with %zu bytes\n", pictureBytes);
        return 1;
    }
    std::filesystem::remove_all(directory);
    return 0;
}
