#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "Kestrune/phone/images/FileManagerFolder.hpp"
#include "tests/support/WaitUntil.hpp"

namespace kestrune {
namespace {

using FileManagerFolder::Answer;

TEST(FileManagerFolder, ParseAcceptsOnlyLocalFileLocations) {
    EXPECT_EQ(FileManagerFolder::parse("file:///home/ana/Desktop\n"),
              std::filesystem::path("/home/ana/Desktop"));
    EXPECT_EQ(FileManagerFolder::parse("  file:///home/ana/My%20Pictures  "),
              std::filesystem::path("/home/ana/My Pictures"));
    EXPECT_EQ(FileManagerFolder::parse("file://localhost/srv"), std::filesystem::path("/srv"));
    EXPECT_EQ(FileManagerFolder::parse("file:///caf%C3%A9"), std::filesystem::path("/café"));
    for (const char* refused :
         {"", "   \n", "trash:///", "smb://server/share", "file://otherhost/x", "file:///bad%2",
          "file:///bad%zz", "file:///nul%00x", "/home/ana"}) {
        EXPECT_FALSE(FileManagerFolder::parse(refused)) << refused;
    }
}

TEST(FileManagerFolder, ClassifyMapsBusErrorsAndLocations) {
    EXPECT_EQ(FileManagerFolder::classify(std::nullopt, "org.freedesktop.DBus.Error.AccessDenied"),
              Answer::denied());
    EXPECT_EQ(FileManagerFolder::classify(std::nullopt, "org.freedesktop.DBus.Error.NoReply"),
              Answer::timedOut());
    EXPECT_EQ(
        FileManagerFolder::classify(std::nullopt, "org.freedesktop.DBus.Error.ServiceUnknown"),
        Answer::none());
    // An error wins over any text that came with it.
    EXPECT_EQ(FileManagerFolder::classify("file:///tmp", "org.freedesktop.DBus.Error.Failed"),
              Answer::none());
    EXPECT_EQ(FileManagerFolder::classify("file:///tmp", std::nullopt), Answer::makeFolder("/tmp"));
    EXPECT_EQ(FileManagerFolder::classify("recent:///", std::nullopt), Answer::none());
    EXPECT_EQ(FileManagerFolder::classify(std::nullopt, std::nullopt), Answer::none());
}

// A question that blocks until the test lets it answer, like a file manager that hangs.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int started = 0;

    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    Answer wait(Answer answer) {
        std::unique_lock lock(mutex);
        ++started;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        return answer;
    }
    void waitStarted(int count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return started >= count; });
    }
};

TEST(FileManagerFolder, AskerAnswersAndKeepsOneQuestionInFlight) {
    Gate gate;
    FileManagerFolder::SerialAsker asker([&] { return gate.wait(Answer::makeFolder("/tmp")); });

    // The file manager hangs: the wait runs out, and so does a second question at once, without
    // queueing a second call behind the first.
    EXPECT_EQ(asker.ask(std::chrono::milliseconds(20)), Answer::timedOut());
    gate.waitStarted(1);
    EXPECT_EQ(asker.ask(std::chrono::hours(1)), Answer::timedOut());
    EXPECT_EQ(gate.started, 1);

    // Once the late answer arrives it is discarded, and the next question is asked anew.
    gate.release();
    // Asked again while the first call is still finishing on the asker's queue, it times out.
    Answer next;
    testing::waitUntil([&] {
        next = asker.ask(std::chrono::hours(1));
        return next != Answer::timedOut();
    });
    EXPECT_EQ(next, Answer::makeFolder("/tmp"));
    EXPECT_EQ(gate.started, 2);
}

}  // namespace
}  // namespace kestrune
