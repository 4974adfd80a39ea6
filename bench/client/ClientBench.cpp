// Throughput of the phone's request client against the real phone-link server on 127.0.0.1:
// a 30 MiB picture uploaded as 480 acknowledged chunks, and text requests answered by an
// executor that succeeds at once. Prints the figures; goals: >= 200 MiB/s and >= 25,000 texts/s.
// `--short`: a tenth of the texts, for a quick run that shows the program still works.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string_view>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace {

using namespace kestrune;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPictureBytes = 30 * 1024 * 1024;  // 480 chunks of 65,536 bytes
constexpr int kTextRoundTrips = 10'000;
constexpr int kShortTextRoundTrips = 1'000;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <typename T>
Result<T, RemoteClient::Failure> await(
    const std::function<void(RemoteClient::Completion<T>)>& start) {
    std::promise<Result<T, RemoteClient::Failure>> outcome;
    auto future = outcome.get_future();
    start([&outcome](Result<T, RemoteClient::Failure> result) {
        outcome.set_value(std::move(result));
    });
    return future.get();
}

// Sends `remaining` texts one after another, each from the completion of the one before.
void sendTexts(RemoteClient& client, int remaining, std::promise<bool>& finished) {
    if (remaining == 0) return finished.set_value(true);
    client.sendText("benchmark text", [&client, remaining, &finished](
                                          Result<RemoteClient::Done, RemoteClient::Failure> r) {
        if (!r) return finished.set_value(false);
        sendTexts(client, remaining - 1, finished);
    });
}

}  // namespace

int main(int argc, char** argv) {
    const bool isShort = argc > 1 && std::string_view(argv[1]) == "--short";
    const int textRoundTrips = isShort ? kShortTextRoundTrips : kTextRoundTrips;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "murrelo-client-bench-XXXXXX").string();
    const std::filesystem::path folder = ::mkdtemp(pattern.data());

    TLSIdentityStore identities(folder / "tls");
    if (!identities.generate()) return std::fputs("could not make a certificate\n", stderr), 1;
    const auto identity = identities.load();
    if (!identity) return std::fputs("could not load the certificate\n", stderr), 1;

    auto devices = std::make_shared<PairedDeviceStore>(folder / "devices.json");
    const auto registration =
        devices->registerDevice("Benchmark Phone", std::chrono::system_clock::now());
    if (!registration) return std::fputs("could not register a phone\n", stderr), 1;

    SerialQueue owner("Kestrune.ClientBench");
    RemoteInputServer::Configuration configuration{
        .identity = identity.value().identity,
        .idleTimeout = std::nullopt,
        .loopbackOnly = true,
        .preferredPort = std::nullopt,
        .bonjourFingerprint = std::nullopt,
    };
    RemoteInputServer server(
        configuration,
        RemoteInputServer::Dependencies{
            .devices = devices,
            .outbox = nullptr,
            .ownerQueue = owner,
            .approve = [](RemoteInputServer::PairingRequest,
                          std::function<void(bool)> reply) { reply(false); },
            .executeCommand =
                [](RemoteMessage, std::function<void(std::optional<RemoteError>)> done) {
                    done(std::nullopt);
                },
            .receiveImage = [](Bytes, ImageFormat, bool,
                               std::function<void(ImageOutcome)> done) { done({}); },
            .advertiser = nullptr,
        });
    std::promise<RemoteInputServer::StartResult> started;
    server.start([&](RemoteInputServer::StartResult result) { started.set_value(result); });
    const auto port = started.get_future().get();
    if (!port) return std::fprintf(stderr, "server: %s\n", port.error().description().c_str()), 1;

    RemoteClient client("127.0.0.1", port.value(), identity.value().fingerprint,
                        {10s, 10s, 10s, 60s});
    if (!await<RemoteClient::Done>(
            [&](auto done) { client.hello(registration.value().secret, done); })) {
        return std::fputs("hello failed\n", stderr), 1;
    }

    Bytes picture(kPictureBytes);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    const auto pictureStart = Clock::now();
    const auto sent = await<std::optional<RemoteClient::SavedImage>>(
        [&](auto done) { client.sendImage(picture, ImageFormat::jpeg, false, done); });
    const double pictureSeconds = seconds(Clock::now() - pictureStart);
    if (!sent) return std::fputs("picture upload failed\n", stderr), 1;
    std::printf(
        "picture upload: 30 MiB in 480 acknowledged chunks, %.3f s, %.1f MiB/s (goal >= 200)\n",
        pictureSeconds, 30.0 / pictureSeconds);

    std::promise<bool> finished;
    const auto textStart = Clock::now();
    sendTexts(client, textRoundTrips, finished);
    if (!finished.get_future().get()) return std::fputs("a text failed\n", stderr), 1;
    const double textSeconds = seconds(Clock::now() - textStart);
    std::printf("text round trips: %d in %.3f s, %.0f per second (goal >= 25,000)\n",
                textRoundTrips, textSeconds, textRoundTrips / textSeconds);

    client.close();
    server.stop();
    std::filesystem::remove_all(folder);
    return 0;
}
