#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include "Kestrune/phone/outbox/OutboxCoding.hpp"
#include "tests/support/OutboxTestSupport.hpp"

namespace kestrune::testing {
namespace {

using Content = Outbox::Content;

// The picture of the n-th item, recognisable after a crash.
Bytes pictureFor(std::int64_t seq) {
    Bytes bytes(48 * 1024 + static_cast<std::size_t>(seq % 7) * 1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(seq * 31 + i);
    return bytes;
}

// Enqueues texts, pictures and passwords forever, one byte on `progress` per item.
[[noreturn]] void enqueueUntilKilled(const fs::path& directory, int progress) {
    ManualMainQueue queue;
    auto outbox = Outbox::create(directory, queue, [&queue] { return queue.wallNow(); });
    for (std::int64_t n = 1;; ++n) {
        const std::int64_t seq = outbox->lastSeq() + 1;
        const auto content = n % 3 == 0   ? Content::image(pictureFor(seq), ImageFormat::png)
                             : n % 3 == 1 ? Content::text("text " + std::to_string(seq))
                                          : Content::secret("pw");
        if (!outbox->enqueue(content, {kPhoneA}).ok()) ::_exit(2);
        const char tick = 1;
        if (::write(progress, &tick, 1) != 1) ::_exit(3);
    }
}

class OutboxCrashTest : public OutboxTest {};

TEST_F(OutboxCrashTest, KilledWriterLeavesOnlyWholeItems) {
    constexpr int kRuns = 4;
    std::int64_t previousLastSeq = 0;
    for (int run = 0; run < kRuns; ++run) {
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(progress[0]);
            enqueueUntilKilled(dir(), progress[1]);
        }
        ::close(progress[1]);
        // Kill at a different point each run: after a varying number of finished items, while the
        // child is somewhere inside the next one.
        const int itemsBeforeKill = 5 + run * 9;
        for (int seen = 0; seen < itemsBeforeKill;) {
            char tick;
            const ssize_t got = ::read(progress[0], &tick, 1);
            ASSERT_EQ(got, 1) << "writer stopped early";
            ++seen;
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(progress[0]);
        ASSERT_TRUE(WIFSIGNALED(status));

        auto outbox = open();
        const auto items = outbox->pending(kPhoneA);
        std::set<std::string> expectedFiles{"state.json"};
        std::int64_t previousSeq = 0;
        for (const auto& item : items) {
            EXPECT_GT(item.seq, previousSeq);
            previousSeq = item.seq;
            EXPECT_FALSE(item.isSecret());
            expectedFiles.insert(item.id + ".json");
            if (item.imageFile) {
                expectedFiles.insert(*item.imageFile);
                const auto bytes = readWholeFile(dir() / *item.imageFile).value_or("");
                EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), pictureFor(item.seq)) << item.seq;
            } else {
                EXPECT_EQ(item.text, "text " + std::to_string(item.seq));
            }
        }
        // No temporary file, no orphan picture, nothing but whole items and the state.
        EXPECT_EQ(fileNames(dir()), expectedFiles);
        EXPECT_LE(items.size(), Outbox::kMaxItems);
        EXPECT_GE(outbox->lastSeq(), previousLastSeq + itemsBeforeKill);
        EXPECT_GE(outbox->lastSeq(), previousSeq);
        previousLastSeq = outbox->lastSeq();
    }
}

}  // namespace
}  // namespace kestrune::testing
