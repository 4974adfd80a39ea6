#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>

#include "KestruneRemoteKit/Support/AtomicFile.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class AtomicFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("atomic-file-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        savedUmask_ = ::umask(0);
        ::umask(savedUmask_);
    }
    void TearDown() override {
        ::umask(savedUmask_);
        fs::remove_all(dir_);
    }

    fs::path dir_;
    mode_t savedUmask_ = 022;
};

TEST_F(AtomicFile, OwnerOnlyModeWhateverTheUmask) {
    ::umask(0);
    const auto file = dir_ / "devices.json";
    ASSERT_TRUE(writeFileAtomically(file, "{}"));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(readWholeFile(file), "{}");

    // Replacing a file that was readable by others narrows it too.
    ::chmod(file.c_str(), 0644);
    ASSERT_TRUE(writeFileAtomically(file, "[]"));
    EXPECT_EQ(modeOf(file), 0600u);

    // An explicit mode is applied exactly, even when the umask would narrow it.
    ::umask(077);
    ASSERT_TRUE(writeFileAtomically(dir_ / "shared.txt", "x", 0644));
    EXPECT_EQ(modeOf(dir_ / "shared.txt"), 0644u);
    EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"devices.json", "shared.txt"}));
}

TEST_F(AtomicFile, MissingFoldersAreCreatedOwnerOnly) {
    ::umask(0);
    const auto file = dir_ / "Murrelo" / "Remote" / "outbox" / "1.json";
    ASSERT_TRUE(writeFileAtomically(file, "item"));
    EXPECT_EQ(modeOf(dir_ / "Murrelo"), 0700u);
    EXPECT_EQ(modeOf(dir_ / "Murrelo" / "Remote"), 0700u);
    EXPECT_EQ(modeOf(dir_ / "Murrelo" / "Remote" / "outbox"), 0700u);
    // Folders that already exist keep their mode.
    EXPECT_EQ(modeOf(dir_), 0755u & ~savedUmask_ & 0777u);
    EXPECT_EQ(readWholeFile(file), "item");
}

TEST_F(AtomicFile, ReadersSeeTheOldOrTheNewFileNeverAPart) {
    const auto file = dir_ / "state.json";
    const std::string small(64 * 1024, 'a');
    const std::string large(3 * 1024 * 1024, 'b');
    ASSERT_TRUE(writeFileAtomically(file, small));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop) {
            const auto text = readWholeFile(file);
            if (!text || (*text != small && *text != large)) ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(writeFileAtomically(file, i % 2 ? small : large));
    while (reads < 10) std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"state.json"});
}

// Kills a writer in the middle of writing a large replacement: the old file must be intact and
// nothing else may be left in the folder (readers list folders such as the outbox).
TEST_F(AtomicFile, AWriterKilledMidWriteLeavesTheOldFileAndNoLeftovers) {
    const auto file = dir_ / "cert.der";
    ASSERT_TRUE(writeFileAtomically(file, "old contents"));

    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const std::string huge(256u * 1024 * 1024, 'n');
        writeFileAtomically(file, huge);
        ::_exit(0);
    }
    // Wait until the child holds a partly written temporary file open, then kill it.
    bool caught = false;
    const auto fdDir = fs::path("/proc") / std::to_string(child) / "fd";
    while (!caught) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) break;  // finished before we caught it
        std::error_code ec;
        for (fs::directory_iterator it(fdDir, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code linkError;
            const auto target = fs::read_symlink(it->path(), linkError);
            if (linkError || target == file || target.string().rfind(dir_.string() + "/", 0) != 0)
                continue;
            struct stat info {};
            if (::stat(it->path().c_str(), &info) == 0 && info.st_size > 0) {
                ::kill(child, SIGKILL);
                caught = true;
                break;
            }
        }
        std::this_thread::yield();
    }
    if (caught) ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(caught) << "the writer finished before it could be interrupted";
    EXPECT_EQ(readWholeFile(file), "old contents");
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"cert.der"});

    // The next write works and leaves only the file.
    ASSERT_TRUE(writeFileAtomically(file, "new contents"));
    EXPECT_EQ(readWholeFile(file), "new contents");
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"cert.der"});
}

TEST_F(AtomicFile, FailuresAreReportedAndLeaveNothingBehind) {
    // The target is a folder: the replacement cannot happen.
    fs::create_directories(dir_ / "taken");
    const auto onFolder = writeFileAtomically(dir_ / "taken", "x");
    ASSERT_FALSE(onFolder);
    EXPECT_FALSE(onFolder.error().empty());
    // A parent that is a file.
    ASSERT_TRUE(writeFileAtomically(dir_ / "plain", "x"));
    const auto underFile = writeFileAtomically(dir_ / "plain" / "child.json", "x");
    ASSERT_FALSE(underFile);
    EXPECT_NE(underFile.error().find("plain"), std::string::npos) << underFile.error();
    EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"plain", "taken"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "taken"));
    // A folder where nothing can be created.
    EXPECT_FALSE(writeFileAtomically("/proc/murrelo-cannot-write-here", "x"));
}

TEST_F(AtomicFile, ReadingWhatIsNotAReadableFileGivesNone) {
    EXPECT_EQ(readWholeFile(dir_ / "absent"), std::nullopt);
    EXPECT_EQ(readWholeFile(dir_), std::nullopt) << "a folder is not a file";
    ASSERT_TRUE(writeFileAtomically(dir_ / "empty", ""));
    EXPECT_EQ(readWholeFile(dir_ / "empty"), "");
    const std::string binary("\0\x01\xff\n\r", 5);
    ASSERT_TRUE(writeFileAtomically(dir_ / "binary", binary));
    EXPECT_EQ(readWholeFile(dir_ / "binary"), binary);
}

}  // namespace
}  // namespace kestrune
