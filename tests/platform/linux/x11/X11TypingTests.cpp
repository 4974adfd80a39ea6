#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <vector>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "KeymapSnapshot.hpp"
#include "platform/linux/x11/X11DirectTyping.hpp"
#include "platform/linux/x11/X11Typist.hpp"
#include "tests/support/CpuLoad.hpp"
#include "tests/support/DirectTypingWait.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/TypingSamples.hpp"

namespace kestrune {
namespace {

using Failure = DirectTextInjector::Failure;
using testing::ReceiverProcess;
using namespace std::chrono_literals;

// How long a receiver may take to show everything typed: 4,096 characters arrive in a few
// seconds; the rest is slack for a loaded machine running sanitizers.
constexpr auto arrivalLimit = 60s;

// Direct typing as the application wires it: the injector's own serial queue, typing through
// XTest on a connection that lives on that queue.
class DirectTypingHarness {
  public:
    DirectTypingHarness()
        : queue_(std::make_unique<SerialQueue>("Kestrune.DirectTextInjector")),
          backend_(*queue_),
          injector_(
              *queue_, [this](const std::string& chunk) { post(chunk); },
              [this](std::uint16_t key) { backend_.pressKey(key); }) {}
    // The queue's thread stops first: its work uses the backend and the injector.
    ~DirectTypingHarness() { queue_.reset(); }

    bool ready() const { return x11::isTrusted(); }
    DirectTextInjector& injector() { return injector_; }
    void afterChunk(std::function<void(int)> hook) { afterChunk_ = std::move(hook); }

    std::optional<Failure> send(const std::string& text) {
        return testing::typeAndWait(injector_, text);
    }
    std::optional<Failure> press(std::uint16_t key) {
        return testing::pressAndWait(injector_, key);
    }

  private:
    void post(const std::string& chunk) {
        backend_.post(chunk);
        if (afterChunk_) afterChunk_(++chunksPosted_);
    }

    std::unique_ptr<SerialQueue> queue_;
    x11::DirectTyping backend_;
    DirectTextInjector injector_;
    std::function<void(int)> afterChunk_;
    int chunksPosted_ = 0;
};

std::string printableAscii() {
    std::string text;
    for (char c = 0x21; c < 0x7F; ++c) text.push_back(c);
    return "The quick brown fox: " + text;
}

const std::string accentedLatin = "Àéîõü ñ ß Œœ ąćęłńśźż Ŵŷ ǅ ÿ Ÿ çà";

std::string longMixedText() {
    std::string text;
    const std::string pieces[] = {"Lorem ipsum dolor sit amet, ", "ünïcödé ", "漢字かな ",
                                  "👍🏽 ", "0123456789 "};
    std::size_t characters = 0;
    for (std::size_t i = 0; characters < 4096; ++i) {
        const auto& piece = pieces[i % 5];
        // Count user-perceived characters of each piece: 28, 8, 5, 2, 11.
        const std::size_t lengths[] = {28, 8, 5, 2, 11};
        if (characters + lengths[i % 5] > 4096) {
            text.append(4096 - characters, 'z');
            break;
        }
        text += piece;
        characters += lengths[i % 5];
    }
    return text;
}

class X11Typing : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        receiver_ = GetParam() == "qt" ? ReceiverProcess::startQt() : ReceiverProcess::startGtk();
        ASSERT_TRUE(receiver_) << "the receiver did not start";
        ASSERT_TRUE(receiver_->focus());
        ASSERT_TRUE(typing_.ready());
    }

    std::unique_ptr<ReceiverProcess> receiver_;
    DirectTypingHarness typing_;
};

TEST_P(X11Typing, ExactTextArrives) {
    for (const std::string& sample : {printableAscii(), accentedLatin, testing::cjkSample,
                                      testing::emojiSample, testing::distinctIdeographsSample()}) {
        ASSERT_EQ(receiver_->ask("clear"), "ok");
        EXPECT_EQ(typing_.send(sample), std::nullopt);
        EXPECT_EQ(testing::firstDifference(sample, receiver_->waitForText(sample, arrivalLimit)),
                  "");
    }
}

TEST_P(X11Typing, LineBreaksBecomeSpacesAndKeysArePressed) {
    EXPECT_EQ(typing_.send("a\r\nb\tc\n"), std::nullopt);
    EXPECT_EQ(typing_.press(36), std::nullopt);
    EXPECT_EQ(typing_.send("d"), std::nullopt);
    EXPECT_EQ(typing_.press(48), std::nullopt);
    EXPECT_EQ(typing_.send("e"), std::nullopt);
    EXPECT_EQ(receiver_->waitForText("a b c\nd\te", arrivalLimit), "a b c\nd\te");
}

TEST_P(X11Typing, LongestTextArrivesExactly) {
    auto text = longMixedText();
    EXPECT_EQ(typing_.send(text), std::nullopt);
    EXPECT_EQ(testing::firstDifference(text, receiver_->waitForText(text, arrivalLimit)), "");
}

TEST_P(X11Typing, CancellationBetweenChunksStopsTyping) {
    typing_.afterChunk([this](int posted) {
        if (posted == 2) typing_.injector().bumpGeneration();
    });
    std::string text;
    for (int i = 0; i < 10; ++i) text += "chunk" + std::to_string(i) + std::string(14, 'x');
    EXPECT_EQ(typing_.send(text), Failure::cancelled);
    auto typed = text.substr(0, 40);
    EXPECT_EQ(receiver_->waitForText(typed, arrivalLimit), typed);
    // Nothing more arrives afterwards, and the next text types normally.
    EXPECT_EQ(typing_.send("!"), std::nullopt);
    EXPECT_EQ(receiver_->waitForText(typed + "!", arrivalLimit), typed + "!");
}

// Only keycodes the user's keymap leaves empty carry our characters, however many characters
// there are, and once typing pauses every key is as it was, to its XKB actions and modifiers.
TEST_P(X11Typing, KeymapIsTheUsersAgainAfterTyping) {
    auto before = testing::keymapSnapshot();
    ASSERT_FALSE(before.empty());
    auto typist = x11::Typist::open();
    ASSERT_TRUE(typist);
    auto text = testing::distinctIdeographsSample() + testing::emojiSample;
    typist->typeText(text);
    EXPECT_TRUE(typist->hasBorrowedKeycodes());
    auto changedWhileTyping = testing::changedKeys(before, testing::keymapSnapshot());
    EXPECT_FALSE(changedWhileTyping.empty());
    for (int keycode : changedWhileTyping) {
        EXPECT_TRUE(testing::isEmptyKey(before[keycode]))
            << "keycode " << keycode << ": " << before[keycode];
    }
    typist->restoreKeymap();
    EXPECT_FALSE(typist->hasBorrowedKeycodes());
    EXPECT_EQ(testing::changedKeys(before, testing::keymapSnapshot()), std::vector<int>{});
    EXPECT_EQ(testing::firstDifference(text, receiver_->waitForText(text, arrivalLimit)), "");
}

// A busy desktop: two processes compete with the receiver for the CPU, so that it falls behind
// the key events and keymap changes it is sent. Every text must still arrive exactly, every time.
TEST_P(X11Typing, ExactTextArrivesOnABusyMachine) {
    constexpr int kRepetitions = 10;
    testing::CpuLoad load(2);
    ASSERT_EQ(load.running(), 2);
    const std::pair<const char*, std::string> samples[] = {
        {"150 ideographs", testing::distinctIdeographsSample()},
        {"emoji", testing::emojiSample},
        {"mixed CJK and Latin", testing::mixedCjkLatinSample()},
    };
    int inexact = 0;
    for (int round = 1; round <= kRepetitions; ++round) {
        for (const auto& [name, sample] : samples) {
            ASSERT_EQ(receiver_->ask("clear"), "ok");
            EXPECT_EQ(typing_.send(sample), std::nullopt);
            auto difference =
                testing::firstDifference(sample, receiver_->waitForText(sample, arrivalLimit));
            EXPECT_EQ(difference, "") << name << ", round " << round;
            if (!difference.empty()) ++inexact;
        }
    }
    EXPECT_EQ(inexact, 0) << "of " << kRepetitions * 3 << " texts";
}

INSTANTIATE_TEST_SUITE_P(Receivers, X11Typing, ::testing::Values("qt", "gtk"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kestrune
