// Throughput of the phone's request client (the kit's RemoteClient) against the phone-link server
// as a phone meets it: the server runs in murrelo-test-host, a process of its own, whose owner
// succeeds at once and writes nothing per command. Workloads: a 30 MiB picture uploaded as 480
// acknowledged chunks, and text requests one after another. Besides the rates it prints the
// context switches of both processes per request, the server's processor time per request and its
// peak resident memory.
// The last line, "RESULT key=value …", is read by bench/anchors/side-by-side.
// `--short`: a tenth of the texts, for a quick run that shows the program still works.
#include <chrono>
#include <cstdio>
#include <future>
#include <string_view>

#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"
#include "bench/support/ProcessFigures.hpp"
#include "bench/support/TestHostProcess.hpp"

namespace {

using namespace kestrune;
using namespace murrelo::bench;
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
    client.sendText("benchmark text",
                    [&client, remaining, &finished](Result<void, RemoteClient::Failure> r) {
                        if (!r) return finished.set_value(false);
                        sendTexts(client, remaining - 1, finished);
                    });
}

}  // namespace

int main(int argc, char** argv) {
    const bool isShort = argc > 1 && std::string_view(argv[1]) == "--short";
    const int textRoundTrips = isShort ? kShortTextRoundTrips : kTextRoundTrips;
    auto host = TestHostProcess::start();
    if (!host) return std::fputs("the test host did not start\n", stderr), 1;

    RemoteClient client("127.0.0.1", host->port(), host->fingerprint(), {10s, 10s, 10s, 60s});
    if (!await<std::string>(
            [&](auto done) { client.pair(host->pairingToken(), "Benchmark Phone", done); })) {
        return std::fputs("pairing failed\n", stderr), 1;
    }

    Bytes picture(kPictureBytes);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    const auto pictureStart = Clock::now();
    const auto pictureSwitchesStart = contextSwitchesWith(host->pid());
    const auto sent = await<std::optional<RemoteClient::SavedImage>>(
        [&](auto done) { client.sendImage(picture, ImageFormat::jpeg, false, done); });
    const double pictureSeconds = seconds(Clock::now() - pictureStart);
    const double chunkSwitches =
        double(contextSwitchesWith(host->pid()) - pictureSwitchesStart) / 480.0;
    if (!sent) return std::fputs("picture upload failed\n", stderr), 1;
    const double peakMiB = double(peakResidentBytes(host->pid())) / (1024.0 * 1024.0);
    std::printf(
        "picture upload: 30 MiB in 480 acknowledged chunks, %.3f s, %.1f MiB/s; %.2f context "
        "switches per chunk; server peak resident memory %.1f MiB\n",
        pictureSeconds, 30.0 / pictureSeconds, chunkSwitches, peakMiB);

    std::promise<bool> finished;
    const auto textStart = Clock::now();
    const auto textSwitchesStart = contextSwitchesWith(host->pid());
    const auto textProcessorStart = processorNanoseconds(host->pid());
    sendTexts(client, textRoundTrips, finished);
    if (!finished.get_future().get()) return std::fputs("a text failed\n", stderr), 1;
    const double textSeconds = seconds(Clock::now() - textStart);
    const double textSwitches =
        double(contextSwitchesWith(host->pid()) - textSwitchesStart) / textRoundTrips;
    const double serverMicroseconds =
        double(processorNanoseconds(host->pid()) - textProcessorStart) / 1000.0 / textRoundTrips;
    const double perSecond = textRoundTrips / textSeconds;
    std::printf(
        "text round trips: %d in %.3f s, %.0f per second; %.2f context switches each; server "
        "processor time %.1f us each\n",
        textRoundTrips, textSeconds, perSecond, textSwitches, serverMicroseconds);
    std::printf(
        "RESULT round_trips_per_s=%.0f switches_per_round_trip=%.2f upload_mib_per_s=%.1f "
        "switches_per_chunk=%.2f server_peak_rss_mib=%.1f server_us_per_round_trip=%.1f\n",
        perSecond, textSwitches, 30.0 / pictureSeconds, chunkSwitches, peakMiB, serverMicroseconds);

    client.close();
    if (!host->stop()) return std::fputs("the test host did not quit cleanly\n", stderr), 1;
    return 0;
}
