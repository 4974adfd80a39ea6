// Direct typing into a Qt receiver under a real X server: how long until every character has
// arrived, and whether the text arrived exactly. Run under scripts/with-test-services.
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
#include "tests/support/ReceiverProcess.hpp"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;

// The lower bound the chunk pacing sets: one 10 ms pause between two chunks of 20 characters.
double pacingFloorSeconds(std::size_t chunks) {
    return static_cast<double>(chunks - 1) *
           std::chrono::duration<double>(DirectTextInjector::interval).count();
}

std::string asciiText(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; text.size() < length; ++i)
        text.push_back(static_cast<char>('!' + i % 94));
    return text;
}

std::string cjkEmojiText(int count) {
    const char* pieces[] = {"漢", "字", "か", "な", "한",       "국",
                            "어", "中", "文", "😀",  "👍🏽", "❤️"};
    std::string text;
    for (int i = 0; i < count; ++i) text += pieces[(i * 7) % 12];
    return text;
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
    std::printf("%-22s without pauses: arrived %.3f s  %s\n", name,
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
        "%-22s chunks %4zu  sent %.3f s  arrived %.3f s  pacing floor %.3f s  ratio %.2f  %s\n",
        name, chunks, std::chrono::duration<double>(sentAt - start).count(), arrived, floor,
        arrived / floor, seen == text ? "exact" : "NOT EXACT");
    queue.reset();  // the queue's work uses the backend: stop it first
}

}  // namespace

int main(int argc, char** argv) {
    const bool isShort = argc > 1 && std::string_view(argv[1]) == "--short";
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
    // The receiving toolkit shares the machine's cores: its load decides how far arrival lags.
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) std::printf("load average %.2f\n", load[0]);
    const std::string asciiName = std::to_string(asciiLength) + " ASCII";
    const std::string cjkName = std::to_string(cjkCount) + " CJK and emoji";
    measure(asciiName.c_str(), asciiText(asciiLength), *receiver);
    measure(cjkName.c_str(), cjkEmojiText(cjkCount), *receiver);
    measureReceiverAlone(asciiName.c_str(), asciiText(asciiLength), *receiver);
    return 0;
}
