#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "Kestrune/paste/Pasteboard.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/phone/images/ImageFileSaver.hpp"
#include "Kestrune/phone/images/ReceivedImageDelivery.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "tests/support/ResultTesting.hpp"
#include "tests/support/SmallDisk.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/TestImages.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;
using Answer = FileManagerFolder::Answer;
using Outcome = ImageOutcome;
using testing::makeImage;
using testing::Pattern;

const auto kNoon = std::chrono::system_clock::from_time_t(1'780'000'000);

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Another thread, made explicit: tasks wait until the test lets them run.
class ManualBackground {
  public:
    ReceivedImageDelivery::Background executor() {
        return [this](std::function<void()> work) { tasks_.push_back(std::move(work)); };
    }
    std::size_t pending() const { return tasks_.size(); }
    // Runs the oldest task only.
    void runOne() {
        ASSERT_FALSE(tasks_.empty());
        auto task = std::move(tasks_.front());
        tasks_.erase(tasks_.begin());
        task();
    }

  private:
    std::vector<std::function<void()>> tasks_;
};

// The picture on the clipboard, or a failure to put it there; answers at once or when told.
struct FakeClipboard {
    std::vector<ClipboardImage::Prepared> committed;
    Result<void, RemoteError> failure;
    bool holdAnswers = false;
    std::vector<std::function<void()>> heldAnswers;

    ReceivedImageDelivery::CommitImage commit() {
        return [this](ClipboardImage::Prepared prepared,
                      std::function<void(Result<void, RemoteError>)> finished) {
            committed.push_back(std::move(prepared));
            auto answer = [finished, failure = failure] { finished(failure); };
            if (holdAnswers) return heldAnswers.push_back(answer);
            answer();
        };
    }
};

class Delivery : public ::testing::Test {
  protected:
    Delivery() {
        fs::create_directories(home_.path() / "Pictures");
        fs::create_directories(home_.path() / "Desktop");
        preferences_.folder = (home_.path() / "Pictures").string();
        delivery_ = makeDelivery();
    }

    std::unique_ptr<ReceivedImageDelivery> makeDelivery() {
        ReceivedImageDelivery::Services services;
        services.preferences = [this] { return preferences_; };
        services.askFileManager = [this] {
            ++finderQuestions_;
            return finderAnswer_;
        };
        services.isUsable = [this](const fs::path& folder) {
            return folder == unwritable_ || ImageSaveLocation::isUsableFolder(folder);
        };
        services.commitImage = clipboard_.commit();
        services.presentAlert = [this](const std::string& title, const std::string& message) {
            alerts_.push_back(title + "|" + message);
        };
        services.home = home_.path().string();
        services.now = [] { return kNoon; };
        services.resolveOn = resolver_.executor();
        services.workOn = worker_.executor();
        return std::make_unique<ReceivedImageDelivery>(main_, pasteQueue_, std::move(services));
    }

    std::shared_ptr<std::optional<Outcome>> receive(const std::string& bytes, bool save) {
        auto outcome = std::make_shared<std::optional<Outcome>>();
        delivery_->receiveImage(bytesOf(bytes), save, [outcome](Outcome result) {
            EXPECT_FALSE(outcome->has_value()) << "answered twice";
            *outcome = std::move(result);
        });
        return outcome;
    }

    // Lets every thread run until nothing is left to do.
    void settle() {
        while (main_.runUntilIdle() > 0 || resolver_.pending() > 0 || worker_.pending() > 0) {
            while (resolver_.pending() > 0) resolver_.runOne();
            while (worker_.pending() > 0) worker_.runOne();
        }
    }

    void useFileManagerWindow(Answer answer) {
        preferences_.destination = "frontFinderWindow";
        finderAnswer_ = std::move(answer);
    }

    fs::path picturesFolder() const { return home_.path() / "Pictures"; }

    TemporaryDirectory home_{"murrelo-delivery", "/tmp"};
    ImageSaveLocation::Preferences preferences_;
    Answer finderAnswer_ = Answer::none();
    int finderQuestions_ = 0;
    // Not even root can make a folder there.
    fs::path unwritable_ = "/proc/murrelo-delivery";
    std::vector<std::string> alerts_;
    FakeClipboard clipboard_;
    ManualMainQueue main_;
    ManualBackground resolver_;
    ManualBackground worker_;
    std::vector<std::function<void()>> unfinishedPastes_;
    SerialPasteQueue pasteQueue_{main_, [this](const std::string&, std::function<void()> done) {
                                     unfinishedPastes_.push_back(std::move(done));
                                 }};
    std::unique_ptr<ReceivedImageDelivery> delivery_;

    const std::string png_ = makeImage(40, 30, ".png", Pattern::noise);
    const std::string jpeg_ = makeImage(40, 30, ".jpg", Pattern::noise);
};

Outcome failure(RemoteError error) {
    return {error, std::nullopt, std::nullopt};
}

TEST_F(Delivery, SavedPictureGoesIntoTheFolderAndOntoTheClipboard) {
    auto outcome = receive(png_, true);
    settle();
    const std::string name = ImageFileSaver::baseName(kNoon) + ".png";
    EXPECT_EQ(*outcome, (Outcome{std::nullopt, name, "~/Pictures"}));
    EXPECT_EQ(contents(picturesFolder() / name), png_);
    ASSERT_EQ(clipboard_.committed.size(), 1u);
    EXPECT_EQ(clipboard_.committed[0].type, "image/png");
    EXPECT_EQ(clipboard_.committed[0].original, bytesOf(png_));
    const Bytes& tiff = clipboard_.committed[0].tiff;
    ASSERT_GE(tiff.size(), 4u);
    EXPECT_TRUE((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M'));
    EXPECT_EQ(finderQuestions_, 0) << "the fixed folder needs no file manager";
}

TEST_F(Delivery, UnsavedPictureOnlyGoesOntoTheClipboard) {
    useFileManagerWindow(Answer::makeFolder(home_.path() / "Desktop"));
    auto outcome = receive(jpeg_, false);
    settle();
    EXPECT_EQ(*outcome, Outcome{});
    EXPECT_EQ(finderQuestions_, 0);
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
    EXPECT_TRUE(filesIn(home_.path() / "Desktop").empty());
    ASSERT_EQ(clipboard_.committed.size(), 1u);
    EXPECT_EQ(clipboard_.committed[0].type, "image/jpeg");
}

TEST_F(Delivery, FileManagerFolderIsUsedAndShownFromHome) {
    useFileManagerWindow(Answer::makeFolder(home_.path() / "Desktop"));
    auto outcome = receive(jpeg_, true);
    settle();
    const std::string name = ImageFileSaver::baseName(kNoon) + ".jpeg";
    EXPECT_EQ(*outcome, (Outcome{std::nullopt, name, "~/Desktop"}));
    EXPECT_EQ(contents(home_.path() / "Desktop" / name), jpeg_);
    EXPECT_EQ(finderQuestions_, 1);
    EXPECT_TRUE(alerts_.empty());
}

TEST_F(Delivery, TwoPicturesInOneSecondGetTheirOwnNames) {
    auto first = receive(jpeg_, true);
    auto second = receive(jpeg_, true);
    settle();
    const std::string base = ImageFileSaver::baseName(kNoon);
    EXPECT_EQ(first->value().saved, base + ".jpeg");
    EXPECT_EQ(second->value().saved, base + " 2.jpeg");
    EXPECT_EQ(filesIn(picturesFolder()),
              (std::vector<std::string>{base + " 2.jpeg", base + ".jpeg"}));
}

TEST_F(Delivery, PicturesThatAreNotPngJpegOrHeicAreInvalidAndWriteNothing) {
    auto noise = receive("not a picture at all", true);
    auto gif = receive(makeImage(8, 8, ".gif", Pattern::flat), true);
    settle();
    EXPECT_EQ(*noise, failure(RemoteError::imageInvalid));
    EXPECT_EQ(*gif, failure(RemoteError::imageInvalid));
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
    EXPECT_TRUE(clipboard_.committed.empty());
}

TEST_F(Delivery, UnwritableFolderFailsTheSaveAndLeavesTheClipboardAlone) {
    preferences_.folder = unwritable_.string();  // passes the check, then cannot be written
    auto outcome = receive(png_, true);
    settle();
    EXPECT_EQ(*outcome, failure(RemoteError::imageSaveFailed));
    EXPECT_TRUE(clipboard_.committed.empty());
    ASSERT_EQ(alerts_.size(), 1u);
    EXPECT_EQ(alerts_[0].rfind("Couldn’t save the picture from your phone|It could not be saved in "
                               "/proc/murrelo-delivery: cannot create",
                               0),
              0u)
        << alerts_[0];
}

// A full disk: the phone hears the save failed, the user is told so by name, and nothing
// half-written is left in the folder.
TEST_F(Delivery, AFullDiskIsNamedToTheUserAndLeavesNothingBehind) {
    TemporaryDirectory folder{"murrelo-small-disk", "/tmp"};
    testing::SmallDisk disk(folder.path(), 256 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    disk.fill();
    preferences_.folder = disk.path().string();
    auto outcome = receive(png_, true);
    settle();
    EXPECT_EQ(*outcome, failure(RemoteError::imageSaveFailed));
    ASSERT_EQ(alerts_.size(), 1u);
    EXPECT_NE(alerts_[0].find(disk.path().string() + ": No space left on device"),
              std::string::npos)
        << alerts_[0];
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), fs::directory_iterator()), 1)
        << "only the filler";
}

TEST_F(Delivery, ClipboardFailureDeletesTheSavedFileAndAnswersItsError) {
    clipboard_.failure = RemoteError::imageTooLarge;
    auto saved = receive(png_, true);
    auto unsaved = receive(png_, false);
    settle();
    EXPECT_EQ(*saved, failure(RemoteError::imageTooLarge));
    EXPECT_EQ(*unsaved, failure(RemoteError::imageTooLarge));
    EXPECT_EQ(clipboard_.committed.size(), 2u);
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
}

TEST_F(Delivery, StoppingWhileTheFolderIsResolvedCancelsWithoutWriting) {
    useFileManagerWindow(Answer::makeFolder(home_.path() / "Desktop"));
    auto outcome = receive(png_, true);
    auto waiting = receive(png_, true);
    main_.runUntilIdle();
    ASSERT_EQ(resolver_.pending(), 1u);
    delivery_->cancelPending();
    settle();
    EXPECT_EQ(*outcome, failure(RemoteError::cancelled));
    EXPECT_EQ(*waiting, failure(RemoteError::cancelled));
    EXPECT_EQ(finderQuestions_, 1) << "no question for a picture already cancelled";
    EXPECT_TRUE(filesIn(home_.path() / "Desktop").empty());
    EXPECT_TRUE(clipboard_.committed.empty());

    auto later = receive(png_, true);  // the new epoch delivers normally
    settle();
    EXPECT_FALSE(later->value().error);
}

TEST_F(Delivery, StoppingAfterTheFileIsWrittenDeletesIt) {
    auto outcome = receive(png_, true);
    while (worker_.pending() == 0) {
        main_.runUntilIdle();
        while (resolver_.pending() > 0) resolver_.runOne();
    }
    worker_.runOne();  // checked
    main_.runUntilIdle();
    worker_.runOne();  // written
    ASSERT_EQ(filesIn(picturesFolder()).size(), 1u);
    delivery_->cancelPending();
    settle();
    EXPECT_EQ(*outcome, failure(RemoteError::cancelled));
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
    EXPECT_TRUE(clipboard_.committed.empty());
}

TEST_F(Delivery, PasteQueueGenerationChangeCancelsTheDelivery) {
    auto outcome = receive(png_, true);
    while (worker_.pending() == 0) {
        main_.runUntilIdle();
        while (resolver_.pending() > 0) resolver_.runOne();
    }
    pasteQueue_.bumpGeneration();
    settle();
    EXPECT_EQ(*outcome, failure(RemoteError::cancelled));
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
}

TEST_F(Delivery, FullPasteQueueRefusesWithBusy) {
    std::vector<std::optional<RemoteError>> texts;
    for (int i = 0; i < SerialPasteQueue::kMaxPending; ++i) {
        pasteQueue_.enqueue("text", [&texts](Result<void, RemoteError> e) {
            texts.push_back(testing::failureOf(e));
        });
    }
    auto outcome = receive(png_, true);
    settle();
    EXPECT_EQ(*outcome, failure(RemoteError::busy));
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
    EXPECT_TRUE(texts.empty()) << "the pastes are still waiting";
}

TEST_F(Delivery, DeliveryGoneAnswersInternalAndLeavesNoFile) {
    auto resolving = receive(png_, true);
    auto waiting = receive(png_, true);
    main_.runUntilIdle();
    delivery_.reset();
    settle();
    EXPECT_EQ(*resolving, failure(RemoteError::internal));
    EXPECT_EQ(*waiting, failure(RemoteError::internal));

    delivery_ = makeDelivery();
    auto writing = receive(png_, true);
    while (worker_.pending() == 0) {
        main_.runUntilIdle();
        while (resolver_.pending() > 0) resolver_.runOne();
    }
    worker_.runOne();
    main_.runUntilIdle();
    ASSERT_EQ(worker_.pending(), 1u);  // the write, about to run
    delivery_.reset();
    EXPECT_EQ(*writing, failure(RemoteError::internal));
    settle();  // the write finishes late and must not leave its file
    EXPECT_TRUE(filesIn(picturesFolder()).empty());
    EXPECT_TRUE(clipboard_.committed.empty());

    // The paste queue was not left waiting for the abandoned delivery.
    bool pasted = false;
    pasteQueue_.enqueue(
        "after", [&pasted](Result<void, RemoteError> e) { pasted = !testing::failureOf(e); });
    settle();
    ASSERT_EQ(unfinishedPastes_.size(), 1u);
    unfinishedPastes_[0]();
    settle();
    EXPECT_TRUE(pasted);
}

TEST_F(Delivery, RefusalNoticeIsShownOncePerRunOfRefusals) {
    useFileManagerWindow(Answer::denied());
    auto first = receive(png_, true);
    auto second = receive(png_, true);
    settle();
    ASSERT_EQ(alerts_.size(), 1u);
    EXPECT_EQ(alerts_[0].substr(0, alerts_[0].find('|')),
              localized("Can’t see your file manager window"));
    EXPECT_EQ(first->value().savedIn, "~/Pictures") << "refused: the settings folder";
    EXPECT_EQ(second->value().savedIn, "~/Pictures");

    finderAnswer_ = Answer::timedOut();  // not a refusal: the next refusal is news again
    receive(png_, true);
    settle();
    EXPECT_EQ(alerts_.size(), 1u);
    finderAnswer_ = Answer::denied();
    receive(png_, true);
    receive(png_, false);  // no resolution, no effect on the run
    receive(png_, true);
    settle();
    EXPECT_EQ(alerts_.size(), 2u);
}

TEST_F(Delivery, SlowResolutionKeepsPicturesInArrivalOrder) {
    useFileManagerWindow(Answer::makeFolder(home_.path() / "Desktop"));
    auto slow = receive(png_, true);
    auto quick = receive(jpeg_, false);
    auto third = receive(jpeg_, true);
    for (int i = 0; i < 5; ++i) {
        main_.runUntilIdle();
        while (worker_.pending() > 0) worker_.runOne();
    }
    EXPECT_EQ(resolver_.pending(), 1u) << "one resolution at a time";
    EXPECT_TRUE(clipboard_.committed.empty()) << "the unsaved picture must wait its turn";
    EXPECT_FALSE(slow->has_value() || quick->has_value() || third->has_value());
    settle();
    ASSERT_EQ(clipboard_.committed.size(), 3u);
    EXPECT_EQ(clipboard_.committed[0].type, "image/png");
    EXPECT_EQ(clipboard_.committed[1].type, "image/jpeg");
    EXPECT_EQ(finderQuestions_, 2);
    EXPECT_EQ(third->value().saved, ImageFileSaver::baseName(kNoon) + ".jpeg");
}

TEST_F(Delivery, ClipboardAnswerArrivingLateStillCompletesInOrder) {
    clipboard_.holdAnswers = true;
    auto first = receive(png_, false);
    auto second = receive(png_, false);
    settle();
    ASSERT_EQ(clipboard_.heldAnswers.size(), 1u) << "the second waits for the first paste";
    clipboard_.heldAnswers[0]();
    settle();
    EXPECT_EQ(*first, Outcome{});
    ASSERT_EQ(clipboard_.heldAnswers.size(), 2u);
    clipboard_.heldAnswers[1]();
    settle();
    EXPECT_EQ(*second, Outcome{});
}

// The delivery's own queues, with a real main thread: results cross threads and come back.
TEST(DeliveryThreads, OwnQueuesSaveAndCommitThenStopCleanly) {
    TemporaryDirectory folder{"murrelo-delivery", "/tmp"};
    SerialQueue main("test-main");
    std::unique_ptr<SerialPasteQueue> pasteQueue;
    std::unique_ptr<ReceivedImageDelivery> delivery;
    std::vector<std::string> committedTypes;
    main.sync([&] {
        pasteQueue = std::make_unique<SerialPasteQueue>(
            main, [](const std::string&, std::function<void()> done) { done(); });
        ReceivedImageDelivery::Services services;
        services.preferences = [&folder] {
            return ImageSaveLocation::Preferences{std::nullopt, folder.path().string()};
        };
        services.commitImage = [&committedTypes](
                                   ClipboardImage::Prepared prepared,
                                   std::function<void(Result<void, RemoteError>)> done) {
            committedTypes.push_back(prepared.type);
            done({});
        };
        services.home = "/nonexistent-home";
        delivery = std::make_unique<ReceivedImageDelivery>(main, *pasteQueue, services);
    });
    const std::string jpeg = makeImage(64, 48, ".jpg", Pattern::noise);
    std::promise<Outcome> saved;
    std::promise<Outcome> invalid;
    main.post([&] {
        delivery->receiveImage(bytesOf(jpeg), true, [&](Outcome o) { saved.set_value(o); });
        delivery->receiveImage(bytesOf("nothing"), false, [&](Outcome o) { invalid.set_value(o); });
    });
    const Outcome first = saved.get_future().get();
    ASSERT_TRUE(first.saved);
    EXPECT_EQ(first.error, std::nullopt);
    EXPECT_EQ(first.savedIn, folder.path().string());
    EXPECT_EQ(contents(folder.path() / *first.saved), jpeg);
    EXPECT_EQ(invalid.get_future().get(), failure(RemoteError::imageInvalid));

    // Torn down with a picture still on its way: it is answered, not forgotten.
    std::promise<Outcome> abandoned;
    main.sync([&] {
        delivery->receiveImage(bytesOf(jpeg), true, [&](Outcome o) { abandoned.set_value(o); });
        delivery.reset();
    });
    EXPECT_EQ(abandoned.get_future().get(), failure(RemoteError::internal));
    main.sync([&] { pasteQueue.reset(); });
    EXPECT_EQ(committedTypes, std::vector<std::string>{"image/jpeg"});
    EXPECT_EQ(filesIn(folder.path()).size(), 1u) << "the abandoned picture left no file";
}

// A clipboard that may refuse to take a picture (the selection stays with someone else).
class FakePasteboard final : public Pasteboard {
  public:
    explicit FakePasteboard(MainQueue& main) : main_(main) {}
    PasteboardSnapshot contents;
    bool refusesPictures = false;
    std::vector<PasteboardSnapshot> writes;

    void takeSnapshot(std::function<void(PasteboardSnapshot)> done) override {
        main_.post([this, done] { done(contents); });
    }
    void writeText(std::string, std::function<void()> done) override { main_.post(done); }
    void restore(PasteboardSnapshot snapshot, std::function<void()> done) override {
        writes.push_back(snapshot);
        const bool picture = !snapshot.isEmpty() && snapshot.items[0][0].type.starts_with("image/");
        if (!(picture && refusesPictures)) contents = std::move(snapshot);
        main_.post(done);
    }
    // Pictures never wait for a reader.
    void whenTaken(std::chrono::milliseconds, std::function<void(bool)> done) override {
        ADD_FAILURE() << "a picture commit waited for a text to be read";
        main_.post([done] { done(false); });
    }

  private:
    MainQueue& main_;
};

TEST(ClipboardImageCommit, PictureReplacesTheClipboardOrTheOldContentsComeBack) {
    ManualMainQueue main;
    FakePasteboard pasteboard(main);
    PasteboardSnapshot copiedText;
    copiedText.items.push_back({{"UTF8_STRING", "UTF8_STRING", 8, bytesOf("copied")}});
    const auto picture = ClipboardImage::prepare(makeImage(12, 9, ".png", Pattern::noise), 1000);
    ASSERT_TRUE(picture);
    const auto commit = clipboardImageCommit(pasteboard);
    const auto commitOnce = [&] {
        std::optional<std::optional<RemoteError>> answer;
        commit(*picture,
               [&answer](Result<void, RemoteError> error) { answer = testing::failureOf(error); });
        main.runUntilIdle();
        EXPECT_TRUE(answer.has_value());
        return answer.value_or(RemoteError::internal);
    };

    pasteboard.contents = copiedText;
    EXPECT_EQ(commitOnce(), std::nullopt);
    ASSERT_EQ(pasteboard.contents.items.size(), 1u);
    const auto& item = pasteboard.contents.items[0];
    ASSERT_EQ(item.size(), 2u);
    EXPECT_EQ(item[0].type, "image/png");
    EXPECT_EQ(item[0].data, picture->original);
    EXPECT_EQ(item[1].type, "image/tiff");
    EXPECT_EQ(item[1].data, picture->tiff);

    pasteboard.contents = copiedText;
    pasteboard.writes.clear();
    pasteboard.refusesPictures = true;
    EXPECT_EQ(commitOnce(), RemoteError::imageTooLarge);
    ASSERT_EQ(pasteboard.writes.size(), 2u);
    EXPECT_EQ(pasteboard.writes[1], copiedText) << "the old contents are put back";
    EXPECT_EQ(pasteboard.contents, copiedText);
}

}  // namespace
}  // namespace kestrune
