// Direct typing into a Qt receiver under a real X server: how long until every character has
// arrived, and whether the text arrived exactly. Run under scripts/with-test-services; with
// --load, two busy processes compete with the receiver for the CPU while it measures.
// `--short`: an eighth of the text, for a quick run that shows the program still works.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/x11/X11DirectTyping.hpp"
#include "tests/support/CpuLoad.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/TypingSamples.hpp"

namespace {

using namespace kestrune;
using testing::asciiText;
using testing::cjkEmojiText;
using Clock = std::chrono::steady_clock;

// The lower bound the chunk pacing sets: one 10 ms pause between two chunks of 20 characters.
double pacingFloorSeconds(std::size_t chunks) {
    return static_cast<double>(chunks - 1) *
           std::chrono::duration<double>(DirectTextInjector::kInterval).count();
}

// Running text in a CJK language uses far more different characters than there are spare
// keycodes: 1,000 ideographs drawn from 300 different ones.
std::string manyIdeographsText() {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        unicode::appendUtf8(text, static_cast<char32_t>(0x4E00 + (i * 7) % 300));
    }
    return text;
}

double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// How fast the receiver takes in characters at all: every chunk posted at once, no pauses.
void measureReceiverAlone(const char* name, const std::string& text,
                          testing::ReceiverProcess& receiver) {
    auto queue = std::make_unique<SerialQueue>("Kestrune.DirectTextInjector");
    x11::DirectTyping backend(*queue);
    receiver.ask("clear");
    auto start = Clock::now();
    queue->sync([&] {
        for (const auto& chunk : DirectTextInjector::chunks(text)) backend.post(chunk);
    });
    std::string seen;
    while ((seen = receiver.text()) != text && Clock::now() - start < std::chrono::seconds(120)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("%-26s without pauses: arrived %.3f s  %s\n", name,
                std::chrono::duration<double>(Clock::now() - start).count(),
                seen == text ? "exact" : "NOT EXACT");
    queue.reset();
}

void measure(const char* name, const std::string& text, testing::ReceiverProcess& receiver) {
    auto queue = std::make_unique<SerialQueue>("Kestrune.DirectTextInjector");
    x11::DirectTyping backend(*queue);
    DirectTextInjector injector(
        *queue, [&](const std::string& chunk) { backend.post(chunk); },
        [&](std::uint16_t key) { backend.pressKey(key); });
    receiver.ask("clear");
    double loadBefore = loadAverage();
    auto chunks = DirectTextInjector::chunks(text).size();
    std::promise<void> sent;
    auto start = Clock::now();
    injector.send(text, std::nullopt, [&](auto) { sent.set_value(); });
    sent.get_future().wait();
    auto sentAt = Clock::now();
    std::string seen;
    while ((seen = receiver.text()) != text && Clock::now() - start < std::chrono::seconds(120)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto arrivedAt = Clock::now();
    double floor = pacingFloorSeconds(chunks);
    double arrived = std::chrono::duration<double>(arrivedAt - start).count();
    std::printf(
        "%-26s chunks %4zu  sent %.3f s  arrived %.3f s  pacing floor %.3f s  ratio %.2f  %s  "
        "(load average %.2f)\n",
        name, chunks, std::chrono::duration<double>(sentAt - start).count(), arrived, floor,
        arrived / floor, seen == text ? "exact" : "NOT EXACT", loadBefore);
    queue.reset();  // the queue's work uses the backend: stop it first
}

}  // namespace

int main(int argc, char** argv) {
    bool underLoad = false;
    bool isShort = false;
    for (int i = 1; i < argc; ++i) {
        underLoad = underLoad || std::string_view(argv[i]) == "--load";
        isShort = isShort || std::string_view(argv[i]) == "--short";
    }
    const std::size_t asciiLength = isShort ? 512 : 4096;
    const int cjkCount = isShort ? 125 : 1000;
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "needs an X display: run under scripts/with-test-services\n");
        return 1;
    }
    // Accessibility events for every keystroke would measure the accessibility bus, not typing.
    unsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    auto receiver = testing::ReceiverProcess::startQt();
    if (!receiver || !receiver->focus()) {
        std::fprintf(stderr, "the Qt receiver did not start\n");
        return 1;
    }
    // The receiving toolkit shares the machine's cores: the load average printed with each
    // figure says how far the machine was from idle.
    std::unique_ptr<testing::CpuLoad> load;
    if (underLoad) load = std::make_unique<testing::CpuLoad>(2);
    std::printf("%s\n", underLoad ? "with two busy processes" : "without added load");
    const std::string asciiName = std::to_string(asciiLength) + " ASCII";
    const std::string cjkName = std::to_string(cjkCount) + " CJK and emoji";
    measure(asciiName.c_str(), asciiText(asciiLength), *receiver);
    measure(cjkName.c_str(), cjkEmojiText(cjkCount), *receiver);
    if (!isShort) measure("1000 CJK, 300 different", manyIdeographsText(), *receiver);
    measureReceiverAlone(asciiName.c_str(), asciiText(asciiLength), *receiver);
    return 0;
}
