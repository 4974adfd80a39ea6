#include <gtest/gtest.h>

#include <future>
#include <map>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "WaylandSession.hpp"
#include "platform/linux/wayland/WaylandDirectTyping.hpp"
#include "tests/support/CpuLoad.hpp"
#include "tests/support/DirectTypingWait.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/TypingSamples.hpp"

namespace kestrune {
namespace {

using Failure = DirectTextInjector::Failure;
using testing::ReceiverProcess;
using namespace std::chrono_literals;

// How long a receiver may take to show everything typed: 4,096 characters take about 10 s paced;
// the rest is slack for a loaded machine running sanitizers.
constexpr auto arrivalLimit = 90s;
using testing::focusLimit;
using testing::startReceiver;
using testing::sway;

// Direct typing as the application wires it on wlroots: the injector's own serial queue, the
// virtual keyboard living on it.
class DirectTypingHarness {
  public:
    DirectTypingHarness()
        : queue_(std::make_unique<SerialQueue>("Kestrune.DirectTextInjector")),
          injector_(
              *queue_, [this](const std::string& chunk) { backend_.post(chunk); },
              [this](std::uint16_t key) { backend_.pressKey(key); }) {}
    ~DirectTypingHarness() { queue_.reset(); }

    std::optional<Failure> send(const std::string& text) {
        return testing::typeAndWait(injector_, text);
    }
    std::optional<Failure> press(std::uint16_t key) {
        return testing::pressAndWait(injector_, key);
    }

  private:
    std::unique_ptr<SerialQueue> queue_;
    wayland::DirectTyping backend_;
    DirectTextInjector injector_;
};

class WaylandTyping : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (sway == nullptr) GTEST_SKIP() << "needs a headless sway: " << testing::swayMissing();
        receiver_ = startReceiver(GetParam());
        ASSERT_TRUE(receiver_) << "the receiver did not start";
        ASSERT_TRUE(receiver_->waitUntilFocused(focusLimit));
    }

    std::string typed(const std::string& sample) {
        EXPECT_EQ(receiver_->ask("clear"), "ok");
        EXPECT_EQ(typing_.send(sample), std::nullopt);
        return testing::firstDifference(sample, receiver_->waitForText(sample, arrivalLimit));
    }

    std::unique_ptr<ReceiverProcess> receiver_;
    DirectTypingHarness typing_;
};

// Every sample, ten times over: the keymap is uploaded again for each batch of characters off
// the layout, and a receiver must see each keycode with the keymap it was sent under.
TEST_P(WaylandTyping, SamplesArriveExactlyEveryTime) {
    constexpr int kRepetitions = 10;
    const std::map<std::string, std::string> samples{
        {"CJK", testing::cjkSample},
        {"emoji", testing::emojiSample},
        {"mixed CJK and Latin", testing::mixedCjkLatinSample()},
        {"combining marks", "Gru\u0308\u00dfe, 世界 👋 — ½ ﬁ e\u0301"},
    };
    for (int round = 1; round <= kRepetitions; ++round) {
        for (const auto& [name, sample] : samples) {
            EXPECT_EQ(typed(sample), "") << name << ", round " << round;
        }
    }
    EXPECT_EQ(typed(testing::distinctIdeographsSample()), "") << "150 ideographs";
}

TEST_P(WaylandTyping, ReturnAndTabArePressed) {
    EXPECT_EQ(typing_.send("a\r\nb"), std::nullopt);
    EXPECT_EQ(typing_.press(36), std::nullopt);
    EXPECT_EQ(typing_.send("c"), std::nullopt);
    EXPECT_EQ(typing_.press(48), std::nullopt);
    EXPECT_EQ(typing_.send("d"), std::nullopt);
    EXPECT_EQ(receiver_->waitForText("a b\nc\td", arrivalLimit), "a b\nc\td");
}

INSTANTIATE_TEST_SUITE_P(Receivers, WaylandTyping,
                         ::testing::Values("gtk-wayland", "qt-wayland", "gtk-xwayland"));

std::string longestAsciiText() {
    std::string ascii;
    for (int i = 0; ascii.size() < DirectTextInjector::kMaxCharacters; ++i) {
        ascii.push_back(static_cast<char>(0x21 + i % 0x5E));
    }
    return ascii;
}

std::string typedInto(ReceiverProcess& receiver, const std::string& sample) {
    DirectTypingHarness typing;
    EXPECT_EQ(receiver.ask("clear"), "ok");
    EXPECT_EQ(typing.send(sample), std::nullopt);
    return testing::firstDifference(sample, receiver.waitForText(sample, arrivalLimit));
}

// Two processes compete with the receivers for the CPU, so that they fall behind the key events
// and keymap changes they are sent. The longest text a phone may send goes to the Qt receiver: a
// GTK text view on Wayland lays out its whole line again for each key and falls so far behind
// that the compositor gives up on it.
TEST(WaylandTypingUnderLoad, TextsArriveExactly) {
    if (sway == nullptr) GTEST_SKIP() << "needs a headless sway: " << testing::swayMissing();
    testing::CpuLoad load(2);
    ASSERT_EQ(load.running(), 2);
    for (const std::string kind : {"qt-wayland", "gtk-wayland", "gtk-xwayland"}) {
        auto receiver = startReceiver(kind);
        ASSERT_TRUE(receiver);
        ASSERT_TRUE(receiver->waitUntilFocused(focusLimit));
        for (const std::string& sample :
             {testing::cjkSample, testing::emojiSample, testing::mixedCjkLatinSample()}) {
            EXPECT_EQ(typedInto(*receiver, sample), "") << kind;
        }
        if (kind == "qt-wayland") {
            EXPECT_EQ(typedInto(*receiver, longestAsciiText()), "") << kind;
        }
    }
}

}  // namespace
}  // namespace kestrune
