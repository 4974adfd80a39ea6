// Typing into a Wayland-native Qt receiver under a headless sway (started here, as an
// unprivileged user when run as root): how long until every character has arrived and whether it
// arrived exactly, for our virtual keyboard and for wtype typing the same text. Each text is
// typed `rounds` times.
// `--short`: an eighth of the text and one round, for a quick run that shows the program works.
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/wayland/VirtualKeyboard.hpp"
#include "platform/linux/wayland/WaylandDirectTyping.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/SwaySession.hpp"
#include "tests/support/TypingSamples.hpp"

namespace {

using namespace kestrune;
using testing::asciiText;
using testing::cjkEmojiText;
using Clock = std::chrono::steady_clock;

// How long a text may take to arrive before the run counts it as lost.
constexpr auto kArrivalLimit = std::chrono::seconds(120);

double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Seconds until the receiver shows `text`, and whether it did.
std::pair<double, bool> arrival(testing::ReceiverProcess& receiver, const std::string& text,
                                Clock::time_point start) {
    std::string seen;
    while ((seen = receiver.text()) != text && Clock::now() - start < kArrivalLimit &&
           text.compare(0, seen.size(), seen) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {std::chrono::duration<double>(Clock::now() - start).count(), seen == text};
}

void report(const char* who, const std::string& name, int rounds, double total, int exact) {
    std::printf("%-8s %-20s mean %.3f s  exact %d of %d  (load average %.2f)\n", who, name.c_str(),
                total / rounds, exact, rounds, loadAverage());
}

void measureOurs(const std::string& name, const std::string& text, int rounds,
                 testing::ReceiverProcess& receiver) {
    auto queue = std::make_unique<SerialQueue>("Kestrune.DirectTextInjector");
    wayland::DirectTyping backend;
    DirectTextInjector injector(
        *queue, [&](const std::string& chunk) { backend.post(chunk); },
        [&](std::uint16_t key) { backend.pressKey(key); });
    double total = 0;
    int exact = 0;
    for (int round = 0; round < rounds; ++round) {
        receiver.ask("clear");
        std::promise<void> sent;
        const auto start = Clock::now();
        injector.send(text, std::nullopt, [&](auto) { sent.set_value(); });
        sent.get_future().wait();
        const auto [seconds, arrived] = arrival(receiver, text, start);
        total += seconds;
        exact += arrived ? 1 : 0;
    }
    report("murrelo", name, rounds, total, exact);
    queue.reset();  // the queue's work uses the backend: stop it first
}

void measureWtype(const std::string& name, const std::string& text, int rounds,
                  testing::ReceiverProcess& receiver, const testing::SwaySession& sway) {
    double total = 0;
    int exact = 0;
    for (int round = 0; round < rounds; ++round) {
        receiver.ask("clear");
        const auto start = Clock::now();
        testing::ChildProcess wtype(sway.asUser({"/usr/bin/wtype", text}), {}, sway.folder(),
                                    "wtype");
        wtype.wait(kArrivalLimit);
        const auto [seconds, arrived] = arrival(receiver, text, start);
        total += seconds;
        exact += arrived ? 1 : 0;
    }
    report("wtype", name, rounds, total, exact);
}

}  // namespace

int main(int argc, char** argv) {
    bool isShort = false;
    for (int i = 1; i < argc; ++i) isShort = isShort || std::string_view(argv[i]) == "--short";
    const std::size_t asciiLength = isShort ? 512 : 4096;
    const int cjkCount = isShort ? 125 : 1000;
    const int rounds = isShort ? 1 : 3;

    std::string why;
    auto sway = testing::SwaySession::start("", why);
    if (!sway) {
        std::fprintf(stderr, "no headless sway: %s\n", why.c_str());
        return 1;
    }
    // The user's keyboard: without one the seat gives no window the keyboard focus.
    auto userKeyboard = wayland::VirtualKeyboard::open();
    auto receiver = testing::ReceiverProcess::start(
        sway->asUser({sway->shared(MURRELO_BINARY_DIR "/tests/support/murrelo_qt_receiver")},
                     {"QT_QPA_PLATFORM=wayland"}));
    if (!userKeyboard || !receiver || !receiver->waitUntilFocused(std::chrono::seconds(20))) {
        std::fprintf(stderr, "the Wayland-native Qt receiver did not start\n");
        return 1;
    }
    const std::vector<std::pair<std::string, std::string>> texts{
        {std::to_string(asciiLength) + " ASCII", asciiText(asciiLength)},
        {std::to_string(cjkCount) + " CJK and emoji", cjkEmojiText(cjkCount)},
    };
    for (const auto& [name, text] : texts) {
        measureOurs(name, text, rounds, *receiver);
        measureWtype(name, text, rounds, *receiver, *sway);
    }
    return 0;
}
