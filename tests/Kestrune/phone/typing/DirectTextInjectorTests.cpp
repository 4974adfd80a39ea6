#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/ResultTesting.hpp"

namespace kestrune {
namespace {

using Failure = DirectTextInjector::Failure;
using namespace std::chrono_literals;

std::string repeated(const std::string& piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(DirectTextInjectorSanitize, LineBreaksAndTabsBecomeSingleSpaces) {
    EXPECT_EQ(DirectTextInjector::sanitize("a\r\nb\tc"), "a b c");
    EXPECT_EQ(DirectTextInjector::sanitize("  hi \n"), "hi");
    EXPECT_EQ(DirectTextInjector::sanitize("a\rb\n\nc"), "a b  c");
    EXPECT_EQ(DirectTextInjector::sanitize("a\x0b\x0c\x1c\x1f"
                                           "b"),
              "a    b");
    EXPECT_EQ(DirectTextInjector::sanitize("a\u0085b\u2028c\u2029d"), "a b c d");
}

TEST(DirectTextInjectorSanitize, OtherControlsAreDroppedAndTextKept) {
    EXPECT_EQ(DirectTextInjector::sanitize(std::string("a\0b\x07\x7f"
                                                       "c",
                                                       6)),
              "abc");
    EXPECT_EQ(DirectTextInjector::sanitize("\u00a0\u3000héllo 世界 👍🏽\u3000"),
              "héllo 世界 👍🏽");
    // Malformed UTF-8 from the network is typed as the replacement character, never as bytes.
    EXPECT_EQ(DirectTextInjector::sanitize("a\xff"
                                           "b"),
              "a\uFFFD"
              "b");
}

TEST(DirectTextInjectorPrepare, LimitsAndEmptiness) {
    EXPECT_EQ(DirectTextInjector::prepare("\r\n\n\r"),
              DirectTextInjector::Prepared(Failure::empty));
    EXPECT_EQ(DirectTextInjector::prepare(""), DirectTextInjector::Prepared(Failure::empty));
    auto exact = repeated("x", 4096);
    EXPECT_EQ(DirectTextInjector::prepare(exact), DirectTextInjector::Prepared(exact));
    EXPECT_EQ(DirectTextInjector::prepare(exact + "y"),
              DirectTextInjector::Prepared(Failure::textTooLong));
    // The limit counts user-perceived characters: 4,096 flags of 8 UTF-8 bytes each pass, and a
    // CR LF pair counts as one character.
    auto flags = repeated("🇯🇵", 4096);
    EXPECT_TRUE(DirectTextInjector::prepare(flags).ok());
    EXPECT_TRUE(DirectTextInjector::prepare(repeated("a", 4094) + "\r\nb").ok());
}

TEST(DirectTextInjectorChunks, SplitsAtTwentyUnitsWithoutBreakingCharacters) {
    auto ascii = DirectTextInjector::chunks(repeated("a", 45));
    ASSERT_EQ(ascii.size(), 3u);
    EXPECT_EQ(ascii[0].size(), 20u);
    EXPECT_EQ(ascii[1].size(), 20u);
    EXPECT_EQ(ascii[2].size(), 5u);

    // A family emoji of 11 UTF-16 units after 10 letters does not fit and starts a new chunk.
    std::string family = "👨‍👩‍👧‍👦";
    auto mixed = DirectTextInjector::chunks(repeated("b", 10) + family + "c");
    ASSERT_EQ(mixed.size(), 2u);
    EXPECT_EQ(mixed[0], repeated("b", 10));
    EXPECT_EQ(mixed[1], family + "c");

    // One character longer than the limit forms a chunk of its own.
    std::string longCluster = "e" + repeated("\u0301", 25);
    auto alone = DirectTextInjector::chunks("x" + longCluster + "y");
    ASSERT_EQ(alone.size(), 3u);
    EXPECT_EQ(alone[1], longCluster);

    EXPECT_TRUE(DirectTextInjector::chunks("").empty());
}

struct Recorder {
    ManualMainQueue queue;
    std::vector<std::string> posted;
    std::vector<std::uint16_t> pressed;
    std::vector<std::optional<Failure>> outcomes;
    DirectTextInjector injector{queue, [this](const std::string& s) { posted.push_back(s); },
                                [this](std::uint16_t k) { pressed.push_back(k); }};
    DirectTextInjector::Completion record() {
        return [this](Result<void, Failure> f) { outcomes.push_back(testing::failureOf(f)); };
    }
};

TEST(DirectTextInjectorSend, TypesChunksTenMillisecondsApart) {
    Recorder r;
    r.injector.send(DirectTextInjector::prepare(repeated("a", 45)), std::nullopt, r.record());
    r.queue.runUntilIdle();
    EXPECT_EQ(r.posted.size(), 1u);
    r.queue.advance(9ms);
    EXPECT_EQ(r.posted.size(), 1u);
    r.queue.advance(1ms);
    EXPECT_EQ(r.posted.size(), 2u);
    EXPECT_TRUE(r.outcomes.empty());
    r.queue.advance(10ms);
    ASSERT_EQ(r.posted.size(), 3u);
    EXPECT_EQ(r.posted[2], "aaaaa");
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0], std::nullopt);
    EXPECT_EQ(r.queue.pendingCount(), 0u);
}

TEST(DirectTextInjectorSend, FailuresAreReportedWithoutTyping) {
    Recorder r;
    r.injector.send(DirectTextInjector::prepare("\n"), std::nullopt, r.record());
    r.queue.runUntilIdle();
    EXPECT_TRUE(r.posted.empty());
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0], Failure::empty);
}

TEST(DirectTextInjectorSend, CancellationBetweenChunksKeepsTypedChunks) {
    Recorder r;
    r.injector.send(DirectTextInjector::prepare(repeated("a", 60)), std::nullopt, r.record());
    r.queue.runUntilIdle();
    r.queue.advance(10ms);
    ASSERT_EQ(r.posted.size(), 2u);
    r.injector.bumpGeneration();
    r.queue.advance(10ms);
    EXPECT_EQ(r.posted.size(), 2u);
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0], Failure::cancelled);

    // Work submitted after the bump runs normally.
    r.injector.press(36, std::nullopt, r.record());
    r.queue.runUntilIdle();
    EXPECT_EQ(r.pressed, std::vector<std::uint16_t>{36});
    EXPECT_EQ(r.outcomes.back(), std::nullopt);
}

TEST(DirectTextInjectorSend, SecondTextAndKeysWaitForTheFirstText) {
    Recorder r;
    r.injector.send(DirectTextInjector::prepare(repeated("a", 25)), std::nullopt, r.record());
    r.injector.press(48, std::nullopt, r.record());
    r.injector.send(DirectTextInjector::prepare("bc"), std::nullopt, r.record());
    r.queue.runUntilIdle();
    EXPECT_EQ(r.posted.size(), 1u);
    EXPECT_TRUE(r.pressed.empty());
    r.queue.advance(10ms);
    EXPECT_EQ(r.posted, (std::vector<std::string>{repeated("a", 20), "aaaaa", "bc"}));
    EXPECT_EQ(r.pressed, std::vector<std::uint16_t>{48});
    EXPECT_EQ(r.outcomes.size(), 3u);
}

TEST(DirectTextInjectorSend, StaleTicketsAreCancelled) {
    Recorder r;
    auto old = r.injector.generation();
    r.injector.bumpGeneration();
    r.injector.press(36, old, r.record());
    r.injector.send(DirectTextInjector::prepare("x"), old, r.record());
    r.injector.send(DirectTextInjector::prepare("y"), r.injector.generation(), r.record());
    r.queue.runUntilIdle();
    EXPECT_TRUE(r.pressed.empty());
    EXPECT_EQ(r.posted, std::vector<std::string>{"y"});
    EXPECT_EQ(r.outcomes, (std::vector<std::optional<Failure>>{Failure::cancelled,
                                                               Failure::cancelled, std::nullopt}));
}

}  // namespace
}  // namespace kestrune
