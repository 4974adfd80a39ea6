#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "Kestrune/phone/outbox/OutboxCoding.hpp"
#include "tests/support/OutboxTestSupport.hpp"

namespace kestrune::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using Content = Outbox::Content;

std::vector<std::int64_t> seqs(const std::vector<Outbox::Item>& items) {
    std::vector<std::int64_t> result;
    for (const auto& item : items) result.push_back(item.seq);
    return result;
}

TEST_F(OutboxTest, EachKindOfContentLeavesItsOwnFiles) {
    auto outbox = open();

    const auto text = enqueue(*outbox, Content::text("hello"), {kPhoneA, kPhoneB, kPhoneA});
    EXPECT_THAT(
        text.id,
        MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
    EXPECT_EQ(text.seq, 1);
    EXPECT_EQ(text.createdAt, now);
    EXPECT_EQ(text.text, "hello");
    EXPECT_THAT(text.pendingDevices, ElementsAre(kPhoneA, kPhoneB));
    EXPECT_EQ(decodeOutboxItem(readWholeFile(dir() / (text.id + ".json")).value()), text);

    const auto picture =
        enqueue(*outbox, Content::image(bytesOf("\x89PNG data"), ImageFormat::png));
    EXPECT_EQ(picture.imageFormat, "png");
    EXPECT_EQ(picture.imageFile, picture.id + ".png");
    EXPECT_EQ(readWholeFile(dir() / *picture.imageFile), "\x89PNG data");
    EXPECT_EQ(outbox->imagePath(picture), dir() / *picture.imageFile);

    const auto password = enqueue(*outbox, Content::secret("hunter2-secret"));
    EXPECT_EQ(password.seq, 3);
    EXPECT_EQ(password.secret, "hunter2-secret");

    // Three items, four files beside "state.json": the password has none, and its text is nowhere.
    EXPECT_EQ(fileNames(dir()), (std::set<std::string>{"state.json", text.id + ".json",
                                                       picture.id + ".json", picture.id + ".png"}));
    for (const auto& name : fileNames(dir())) {
        EXPECT_EQ(permissionBits(dir() / name), 0600u) << name;
        EXPECT_EQ(readWholeFile(dir() / name)->find("hunter2"), std::string::npos) << name;
    }
    EXPECT_EQ(decodeOutboxState(readWholeFile(dir() / "state.json").value()), 3);
    EXPECT_EQ(outbox->count(), 3u);
    EXPECT_EQ(changes, 3);
}

TEST_F(OutboxTest, NoPhonesMeansNothingIsWritten) {
    auto outbox = open();
    enqueue(*outbox, Content::text("first"));
    const auto stateBefore = readWholeFile(dir() / "state.json");
    changes = 0;

    auto refused = outbox->enqueue(Content::text("nobody"), {});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), Outbox::EnqueueError(Outbox::Failure::noDevices));
    EXPECT_EQ(readWholeFile(dir() / "state.json"), stateBefore);
    EXPECT_EQ(outbox->count(), 1u);
    EXPECT_EQ(outbox->lastSeq(), 1);
    EXPECT_EQ(changes, 0);
}

TEST_F(OutboxTest, TwentyFirstItemPushesOutTheOldestWithItsFiles) {
    auto outbox = open();
    const auto oldest = enqueue(*outbox, Content::image(bytesOf("jpeg"), ImageFormat::jpeg));
    for (int i = 2; i <= 20; ++i) enqueue(*outbox, Content::text("item " + std::to_string(i)));
    EXPECT_EQ(outbox->count(), 20u);

    enqueue(*outbox, Content::text("item 21"));
    EXPECT_EQ(outbox->count(), 20u);
    EXPECT_FALSE(outbox->isPending(oldest.id));
    EXPECT_FALSE(fs::exists(dir() / (oldest.id + ".json")));
    EXPECT_FALSE(fs::exists(dir() / *oldest.imageFile));
    const auto pending = outbox->pending(kPhoneA);
    ASSERT_EQ(pending.size(), 20u);
    EXPECT_EQ(pending.front().seq, 2);
    EXPECT_EQ(pending.back().seq, 21);
    EXPECT_EQ(fileNames(dir()).size(), 21u);  // twenty items and the state
}

TEST_F(OutboxTest, AcknowledgementsTakePhonesOffUntilNoneIsLeft) {
    auto outbox = open();
    const auto item = enqueue(*outbox, Content::text("to both"), {kPhoneA, kPhoneB});
    const auto other = enqueue(*outbox, Content::text("to b"), {kPhoneB});
    changes = 0;

    EXPECT_TRUE(outbox->acknowledge(item.id, kPhoneA));
    EXPECT_EQ(changes, 1);
    EXPECT_THAT(
        decodeOutboxItem(readWholeFile(dir() / (item.id + ".json")).value())->pendingDevices,
        ElementsAre(kPhoneB));
    EXPECT_THAT(outbox->pending(kPhoneA), IsEmpty());
    EXPECT_THAT(seqs(outbox->pending(kPhoneB)), ElementsAre(item.seq, other.seq));

    // The same acknowledgement again, one from a phone never addressed, one for an unknown id.
    EXPECT_FALSE(outbox->acknowledge(item.id, kPhoneA));
    EXPECT_FALSE(outbox->acknowledge(other.id, kPhoneA));
    EXPECT_FALSE(outbox->acknowledge("00000000-0000-4000-8000-000000000000", kPhoneB));
    EXPECT_EQ(changes, 1);

    EXPECT_TRUE(outbox->acknowledge(item.id, kPhoneB));
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(outbox->isPending(item.id));
    EXPECT_FALSE(fs::exists(dir() / (item.id + ".json")));
    EXPECT_THAT(seqs(outbox->pending(kPhoneB)), ElementsAre(other.seq));
}

TEST_F(OutboxTest, RemovingAPhoneDropsItemsOnlyItWasWaitingFor) {
    auto outbox = open();
    const auto onlyA =
        enqueue(*outbox, Content::image(bytesOf("heic"), ImageFormat::heic), {kPhoneA});
    const auto both = enqueue(*outbox, Content::text("both"), {kPhoneA, kPhoneB});
    const auto secret = enqueue(*outbox, Content::secret("pw"), {kPhoneA, kPhoneB});
    changes = 0;

    outbox->removeDevice(kPhoneA);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(outbox->isPending(onlyA.id));
    EXPECT_FALSE(fs::exists(dir() / *onlyA.imageFile));
    EXPECT_THAT(outbox->pending(kPhoneA), IsEmpty());
    const auto left = outbox->pending(kPhoneB);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_THAT(left[0].pendingDevices, ElementsAre(kPhoneB));
    EXPECT_EQ(left[1].secret, "pw");
    EXPECT_THAT(
        decodeOutboxItem(readWholeFile(dir() / (both.id + ".json")).value())->pendingDevices,
        ElementsAre(kPhoneB));
    EXPECT_FALSE(fs::exists(dir() / (secret.id + ".json")));

    outbox->removeDevice(kPhoneA);
    EXPECT_EQ(changes, 1);
}

TEST_F(OutboxTest, ClearEmptiesTheFolderButNotTheSequence) {
    auto outbox = open();
    enqueue(*outbox, Content::text("a"));
    enqueue(*outbox, Content::image(bytesOf("png"), ImageFormat::png));
    enqueue(*outbox, Content::secret("pw"));
    changes = 0;

    outbox->clear();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(outbox->count(), 0u);
    EXPECT_EQ(fileNames(dir()), std::set<std::string>{"state.json"});
    outbox->clear();
    EXPECT_EQ(changes, 2);  // always reported, even with nothing to clear

    EXPECT_EQ(enqueue(*outbox, Content::text("after")).seq, 4);
}

TEST_F(OutboxTest, PasswordIsVisibleForTenMinutesThenPurgedByTheTimer) {
    auto outbox = open();
    const auto password = enqueue(*outbox, Content::secret("pw"), {kPhoneA});
    const auto text = enqueue(*outbox, Content::text("stays"), {kPhoneA});
    changes = 0;

    passTime(599s);
    EXPECT_THAT(seqs(outbox->pending(kPhoneA)), ElementsAre(password.seq, text.seq));
    passTime(1s);  // exactly ten minutes is not yet older than ten minutes
    EXPECT_TRUE(outbox->isPending(password.id));
    EXPECT_EQ(changes, 0);

    passTime(1s);  // the purge was set for 601 s after the enqueue
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(outbox->isPending(password.id));
    EXPECT_THAT(seqs(outbox->pending(kPhoneA)), ElementsAre(text.seq));
    EXPECT_EQ(outbox->count(), 1u);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST_F(OutboxTest, ExpiredPasswordIsInvisibleBeforeItIsRemoved) {
    auto outbox = open();
    const auto password = enqueue(*outbox, Content::secret("pw"), {kPhoneA});
    changes = 0;

    now += 601s;  // the clock moves, the purge timer has not run yet
    EXPECT_FALSE(outbox->isPending(password.id));
    EXPECT_THAT(outbox->pending(kPhoneA), IsEmpty());
    EXPECT_EQ(outbox->count(), 0u);
    // The phone's late acknowledgement still finds the item, as it is still in the list.
    EXPECT_TRUE(outbox->acknowledge(password.id, kPhoneA));
    EXPECT_EQ(changes, 1);

    queue.advance(601s);
    EXPECT_EQ(changes, 1);  // nothing left to purge, so no change is reported
}

TEST_F(OutboxTest, PurgeTimerOutlivingTheOutboxDoesNothing) {
    auto outbox = open();
    enqueue(*outbox, Content::secret("pw"));
    outbox.reset();
    EXPECT_EQ(queue.pendingCount(), 1u);
    queue.advance(601s);
    EXPECT_EQ(queue.pendingCount(), 0u);
}

TEST_F(OutboxTest, ItemsExpireAfterADayAtTheNextEnqueue) {
    auto outbox = open();
    const auto old = enqueue(*outbox, Content::image(bytesOf("png"), ImageFormat::png));
    passTime(86'400s);
    enqueue(*outbox, Content::text("day-old is still due"));
    EXPECT_TRUE(outbox->isPending(old.id));

    passTime(1s);
    enqueue(*outbox, Content::text("now the first has expired"));
    EXPECT_FALSE(outbox->isPending(old.id));
    EXPECT_FALSE(fs::exists(dir() / *old.imageFile));
    EXPECT_FALSE(fs::exists(dir() / (old.id + ".json")));
    EXPECT_EQ(outbox->count(), 2u);
}

TEST_F(OutboxTest, OnChangeMayCallBackIntoTheOutbox) {
    auto outbox = open();
    std::vector<std::size_t> seen;
    outbox->setOnChange([&] {
        seen.push_back(outbox->count());
        for (const auto& item : outbox->pending(kPhoneA)) outbox->isPending(item.id);
    });
    const auto item = enqueue(*outbox, Content::text("a"));
    outbox->acknowledge(item.id, kPhoneA);
    enqueue(*outbox, Content::secret("pw"));
    outbox->removeDevice(kPhoneA);
    outbox->clear();
    EXPECT_THAT(seen, ElementsAre(1u, 0u, 1u, 0u, 0u));
}

TEST_F(OutboxTest, ConcurrentProducersAndAcknowledgersKeepOrderAndCap) {
    auto outbox = open();
    outbox->setOnChange({});
    constexpr int kPerThread = 40;
    std::vector<std::thread> threads;
    for (const auto& phone : {kPhoneA, kPhoneB}) {
        threads.emplace_back([&, phone] {
            for (int i = 0; i < kPerThread; ++i) {
                outbox->enqueue(Content::text("t"), {phone});
                if (i % 2 == 0) outbox->enqueue(Content::secret("s"), {kPhoneA, kPhoneB});
            }
        });
        threads.emplace_back([&, phone] {
            for (int i = 0; i < kPerThread; ++i) {
                for (const auto& item : outbox->pending(phone)) outbox->acknowledge(item.id, phone);
            }
        });
    }
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(outbox->lastSeq(), 2 * (kPerThread + kPerThread / 2));
    EXPECT_LE(outbox->count(), Outbox::kMaxItems);
    for (const auto& phone : {kPhoneA, kPhoneB}) {
        const auto left = seqs(outbox->pending(phone));
        EXPECT_TRUE(std::is_sorted(left.begin(), left.end()));
        EXPECT_EQ(std::adjacent_find(left.begin(), left.end()), left.end());
    }
}

}  // namespace
}  // namespace kestrune::testing
