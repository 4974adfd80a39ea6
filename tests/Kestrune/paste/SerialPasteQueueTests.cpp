#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/ResultTesting.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using Outcome = std::optional<RemoteError>;

// A paste that takes 180 ms of virtual time, like the clipboard paste.
struct Harness {
    ManualMainQueue main;
    std::vector<std::string> started;
    std::vector<std::string> finished;
    std::vector<std::pair<std::string, Outcome>> outcomes;
    std::unique_ptr<SerialPasteQueue> queue = std::make_unique<SerialPasteQueue>(
        main, [this](const std::string& text, std::function<void()> done) {
            started.push_back(text);
            main.postAfter(180ms, [this, text, done] {
                finished.push_back(text);
                done();
            });
        });
    void enqueue(const std::string& text) {
        queue->enqueue(text, [this, text](Result<void, RemoteError> o) {
            outcomes.emplace_back(text, testing::failureOf(o));
        });
    }
    void dictate(const std::string& text) {
        queue->enqueueDictation(text, [this, text](Result<void, RemoteError> o) {
            outcomes.emplace_back(text, testing::failureOf(o));
        });
    }
    Outcome outcomeOf(const std::string& text) const {
        for (const auto& [t, outcome] : outcomes) {
            if (t == text) return outcome;
        }
        return RemoteError::internal;
    }
};

TEST(SerialPasteQueue, RunsStrictlyOneAfterAnother) {
    Harness h;
    h.enqueue("one");
    h.enqueue("two");
    h.enqueue("three");
    h.main.runUntilIdle();
    EXPECT_EQ(h.started, std::vector<std::string>{"one"});
    h.main.advance(180ms);
    EXPECT_EQ(h.started, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(h.finished, std::vector<std::string>{"one"});
    h.main.advance(360ms);
    EXPECT_EQ(h.finished, (std::vector<std::string>{"one", "two", "three"}));
    ASSERT_EQ(h.outcomes.size(), 3u);
    for (const auto& [text, outcome] : h.outcomes) EXPECT_EQ(outcome, std::nullopt) << text;
}

TEST(SerialPasteQueue, SeventeenthWaitingItemIsBusyUntilTheGenerationChanges) {
    Harness h;
    for (int i = 0; i < 16; ++i) h.enqueue("t" + std::to_string(i));
    h.enqueue("t16");
    ASSERT_EQ(h.outcomes.size(), 1u);
    EXPECT_EQ(h.outcomes[0], std::make_pair(std::string("t16"), Outcome(RemoteError::busy)));

    h.main.runUntilIdle();
    h.queue->bumpGeneration();
    // The running paste completes; the 15 that had not started are cancelled.
    h.enqueue("fresh");
    h.main.advance(10s);
    int cancelled = 0;
    for (const auto& [text, outcome] : h.outcomes) cancelled += outcome == RemoteError::cancelled;
    EXPECT_EQ(cancelled, 15);
    EXPECT_EQ(h.started, (std::vector<std::string>{"t0", "fresh"}));
    EXPECT_EQ(h.outcomes.back(), std::make_pair(std::string("fresh"), Outcome(std::nullopt)));

    // The count starts from zero in the new generation.
    for (int i = 0; i < 16; ++i) h.enqueue("n" + std::to_string(i));
    EXPECT_EQ(h.outcomes.back().second, Outcome(std::nullopt));
}

TEST(SerialPasteQueue, DictationIsNeitherRefusedNorCancelledByThePhonesLimitOrGeneration) {
    Harness h;
    for (int i = 0; i < SerialPasteQueue::kMaxPending; ++i) h.enqueue("p" + std::to_string(i));
    h.main.runUntilIdle();
    h.dictate("first dictation");
    // Phone Connection stops while both dictations wait behind the running phone paste.
    h.queue->bumpGeneration();
    h.dictate("second dictation");
    h.enqueue("phone after the stop");
    h.main.advance(10s);

    // Still one at a time: the running phone paste finishes, dictation goes before the phones'.
    EXPECT_EQ(h.started, (std::vector<std::string>{"p0", "first dictation", "second dictation",
                                                   "phone after the stop"}));
    EXPECT_EQ(h.finished, h.started);
    EXPECT_EQ(h.outcomeOf("first dictation"), std::nullopt);
    EXPECT_EQ(h.outcomeOf("second dictation"), std::nullopt);
    EXPECT_EQ(h.outcomeOf("p1"), RemoteError::cancelled);
    EXPECT_EQ(h.outcomeOf("phone after the stop"), std::nullopt);
}

TEST(SerialPasteQueue, WorkSeesItselfStaleAfterACancellation) {
    ManualMainQueue main;
    SerialPasteQueue queue(main, nullptr);
    std::function<bool()> probe;
    SerialPasteQueue::Done finish;
    Outcome outcome = RemoteError::internal;
    queue.enqueue(
        [&](std::function<bool()> isStale, SerialPasteQueue::Done finished) {
            probe = isStale;
            finish = finished;
        },
        [&](Result<void, RemoteError> o) { outcome = testing::failureOf(o); });
    main.runUntilIdle();
    ASSERT_TRUE(probe);
    EXPECT_FALSE(probe());
    queue.bumpGeneration();
    EXPECT_TRUE(probe());
    finish(RemoteError::cancelled);
    EXPECT_EQ(outcome, RemoteError::cancelled);
}

TEST(SerialPasteQueue, ItemsWaitingWhenTheQueueGoesAwayReportInternal) {
    Harness h;
    h.enqueue("running");
    h.enqueue("waiting");
    h.main.runUntilIdle();
    h.queue.reset();
    h.main.advance(1s);
    ASSERT_EQ(h.outcomes.size(), 2u);
    EXPECT_EQ(h.outcomes[0].second, Outcome(std::nullopt));
    EXPECT_EQ(h.outcomes[1],
              std::make_pair(std::string("waiting"), Outcome(RemoteError::internal)));
}

}  // namespace
}  // namespace kestrune
