#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>
#include <fstream>

#include "Kestrune/phone/outbox/OutboxCoding.hpp"
#include "tests/support/OutboxTestSupport.hpp"

namespace kestrune::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::VariantWith;
using Content = Outbox::Content;

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class OutboxFilesTest : public OutboxTest {};

TEST_F(OutboxFilesTest, RestartKeepsTextsAndPicturesButNotPasswords) {
    Outbox::Item text, picture;
    {
        auto outbox = open();
        text = enqueue(*outbox, Content::text("survives"), {kPhoneA, kPhoneB});
        picture = enqueue(*outbox, Content::image(bytesOf("jpeg bytes"), ImageFormat::jpeg));
        enqueue(*outbox, Content::secret("pw"), {kPhoneA});
        outbox->acknowledge(text.id, kPhoneA);
    }
    passTime(60s);
    auto reopened = open();

    const auto pendingA = reopened->pending(kPhoneA);
    ASSERT_EQ(pendingA.size(), 1u);
    EXPECT_EQ(pendingA[0], picture);
    const auto pendingB = reopened->pending(kPhoneB);
    ASSERT_EQ(pendingB.size(), 1u);
    EXPECT_EQ(pendingB[0].text, "survives");
    EXPECT_THAT(pendingB[0].pendingDevices, ElementsAre(kPhoneB));
    EXPECT_EQ(reopened->count(), 2u);
    EXPECT_EQ(reopened->lastSeq(), 3);
    EXPECT_EQ(enqueue(*reopened, Content::text("next")).seq, 4);
}

TEST_F(OutboxFilesTest, SequenceContinuesFromTheLargerOfStateAndItems) {
    {
        auto outbox = open();
        for (int i = 0; i < 5; ++i) enqueue(*outbox, Content::text("x"));
        outbox->clear();
    }
    // Everything cleared: the state alone carries the count.
    EXPECT_EQ(enqueue(*open(), Content::text("after clear")).seq, 6);

    // A state that lags behind the items (or is damaged, or gone) yields to the highest item.
    writeFile(dir() / "state.json", R"({"lastSeq": 2})");
    EXPECT_EQ(enqueue(*open(), Content::text("a")).seq, 7);
    writeFile(dir() / "state.json", "{not json");
    EXPECT_EQ(enqueue(*open(), Content::text("b")).seq, 8);
    fs::remove(dir() / "state.json");
    EXPECT_EQ(enqueue(*open(), Content::text("c")).seq, 9);
}

// What cannot be used is kept aside, never deleted, and the user hears of it once; leftovers of
// the outbox's own writes go.
TEST_F(OutboxFilesTest, StartupKeepsAsideWhatItCannotUseAndOnlyThat) {
    Outbox::Item keptText, keptPicture;
    {
        auto outbox = open();
        keptText = enqueue(*outbox, Content::text("kept"));
        keptPicture = enqueue(*outbox, Content::image(bytesOf("png"), ImageFormat::png));
    }
    const auto stray = [&](const Outbox::Item& base, auto change) {
        auto item = base;
        item.id = Uuid::random()->uuidString();
        change(item);
        return item;
    };
    // A valid item stored under another item's name.
    const auto misnamed = stray(keptText, [](auto&) {});
    writeFile(dir() / "AAAAAAAA-AAAA-4AAA-8AAA-AAAAAAAAAAAA.json", encodeOutboxItem(misnamed));
    // A picture item whose picture is missing.
    const auto noPicture =
        stray(keptPicture, [](auto& item) { item.imageFile = item.id + ".png"; });
    writeFile(dir() / (noPicture.id + ".json"), encodeOutboxItem(noPicture));
    // A picture file name leading out of the folder: the target must survive the start-up.
    writeFile(folder.path() / "victim.png", "precious");
    const auto escaping = stray(keptPicture, [](auto& item) { item.imageFile = "../victim.png"; });
    writeFile(dir() / (escaping.id + ".json"), encodeOutboxItem(escaping));
    writeFile(dir() / "garbage.json", "\x01\x02 not json");
    writeFile(dir() / "orphan.jpeg", "left by a deleted item");
    writeFile(dir() / ".state.json.tmp-123", "interrupted write");
    writeFile(dir() / ".0123.json.tmp-456", "interrupted write");

    std::vector<StoreProblem> problems;
    auto outbox = Outbox::create(
        dir(), queue, [this] { return now; },
        [&](const StoreProblem& problem) { problems.push_back(problem); });
    std::set<std::string> usable, aside;
    for (const auto& name : fileNames(dir())) (isKeptAside(name) ? aside : usable).insert(name);
    EXPECT_EQ(usable, (std::set<std::string>{"state.json", keptText.id + ".json",
                                             keptPicture.id + ".json", *keptPicture.imageFile}));
    ASSERT_EQ(aside.size(), 4u);
    for (const auto& name : {"AAAAAAAA-AAAA-4AAA-8AAA-AAAAAAAAAAAA.json", "garbage.json"}) {
        EXPECT_TRUE(std::any_of(aside.begin(), aside.end(),
                                [&](const std::string& kept) { return kept.starts_with(name); }));
    }
    EXPECT_EQ(readWholeFile(folder.path() / "victim.png"), "precious");
    EXPECT_THAT(outbox->pending(kPhoneA), ElementsAre(keptText, keptPicture));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0].message, ::testing::HasSubstr(dir().string()));

    // A second start finds the kept files and leaves them be, without a second notice.
    problems.clear();
    outbox = Outbox::create(
        dir(), queue, [this] { return now; },
        [&](const StoreProblem& problem) { problems.push_back(problem); });
    EXPECT_EQ(fileNames(dir()).size(), usable.size() + aside.size());
    EXPECT_THAT(problems, IsEmpty());
}

TEST_F(OutboxFilesTest, StartupAfterADayFindsNothingLeft) {
    Outbox::Item picture;
    {
        auto outbox = open();
        picture = enqueue(*outbox, Content::image(bytesOf("png"), ImageFormat::png));
    }
    passTime(86'401s);
    auto outbox = open();
    EXPECT_EQ(outbox->count(), 0u);
    EXPECT_EQ(fileNames(dir()), std::set<std::string>{"state.json"});
    EXPECT_EQ(outbox->lastSeq(), 1);
}

TEST_F(OutboxFilesTest, MissingOrUnlistableFolderStartsEmpty) {
    EXPECT_EQ(open()->count(), 0u);
    fs::create_directories(folder.path());
    writeFile(dir(), "a file where the folder should be");
    auto outbox = open();
    EXPECT_EQ(outbox->count(), 0u);
    auto failed = outbox->enqueue(Content::text("x"), {kPhoneA});
    ASSERT_FALSE(failed.ok());
    EXPECT_THAT(failed.error(), VariantWith<Outbox::WriteError>(::testing::_));
    EXPECT_EQ(outbox->lastSeq(), 0);
}

// Files may not grow past a limit, so a large write fails the way a full disk does.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(OutboxFilesTest, FailedWriteLeavesTheOutboxAsItWas) {
    auto outbox = open();
    const auto kept = enqueue(*outbox, Content::text("kept"));
    const auto filesBefore = fileNames(dir());
    changes = 0;
    const std::string large(256 * 1024, 'x');
    {
        FileSizeLimit limit(64 * 1024);

        // The picture itself cannot be written: nothing changes, the number is not spent.
        auto picture = outbox->enqueue(Content::image(bytesOf(large), ImageFormat::png), {kPhoneA});
        ASSERT_FALSE(picture.ok());
        EXPECT_THAT(picture.error(), VariantWith<Outbox::WriteError>(::testing::_));
        EXPECT_EQ(outbox->lastSeq(), 1);
        EXPECT_EQ(fileNames(dir()), filesBefore);

        // The state is written, the item file is not: the number is spent, nothing else remains.
        auto text = outbox->enqueue(Content::text(large), {kPhoneA});
        ASSERT_FALSE(text.ok());
        EXPECT_EQ(fileNames(dir()), filesBefore);
        EXPECT_EQ(outbox->lastSeq(), 2);
        EXPECT_EQ(decodeOutboxState(readWholeFile(dir() / "state.json").value()), 2);
    }
    EXPECT_EQ(changes, 0);
    EXPECT_THAT(outbox->pending(kPhoneA), ElementsAre(kept));
    EXPECT_EQ(enqueue(*outbox, Content::text("later")).seq, 3);
}

}  // namespace
}  // namespace kestrune::testing
