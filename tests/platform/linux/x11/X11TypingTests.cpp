#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/x11/X11DirectTyping.hpp"
#include "platform/linux/x11/X11Typist.hpp"
#include "tests/support/ReceiverProcess.hpp"

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
        std::promise<std::optional<Failure>> outcome;
        injector_.send(DirectTextInjector::prepare(text), std::nullopt,
                       [&outcome](std::optional<Failure> f) { outcome.set_value(f); });
        return outcome.get_future().get();
    }
    std::optional<Failure> press(std::uint16_t key) {
        std::promise<std::optional<Failure>> outcome;
        injector_.press(key, std::nullopt,
                        [&outcome](std::optional<Failure> f) { outcome.set_value(f); });
        return outcome.get_future().get();
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
const std::string cjk = "中文输入测试，日本語のテキスト、한국어 텍스트。";
const std::string emoji =
    "❤️ 👍🏽 👨‍👩‍👧‍👦 ☺︎ 🇯🇵 ✌🏿 1️⃣";

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

// 150 different ideographs: far more than the spare keycodes, so keycodes are reused many times
// and each reuse has to wait until the receiver has settled.
std::string manyDistinctCharacters() {
    std::u32string scalars;
    for (char32_t c = 0x4E00; c < 0x4E00 + 150; ++c) scalars.push_back(c);
    std::string text;
    for (char32_t c : scalars) {
        text.push_back(static_cast<char>(0xE0 | (c >> 12)));
        text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return text;
}

TEST_P(X11Typing, ExactTextArrives) {
    for (const std::string& sample :
         {printableAscii(), accentedLatin, cjk, emoji, manyDistinctCharacters()}) {
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

INSTANTIATE_TEST_SUITE_P(Receivers, X11Typing, ::testing::Values("qt", "gtk"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kestrune
