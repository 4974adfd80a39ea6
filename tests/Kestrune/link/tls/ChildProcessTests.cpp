#include <gtest/gtest.h>

#include <csignal>

#include "Kestrune/link/tls/ChildProcess.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

constexpr auto kGenerous = 30s;

TEST(ChildProcess, KeepsStreamsApartAndReportsExitStatus) {
    auto run = runChildProcess("/bin/sh", {"-c", "printf 'to out'; printf 'to err' >&2; exit 3"},
                               kGenerous);
    ASSERT_TRUE(run.ok()) << run.error().message();
    EXPECT_EQ(run->standardOutput, "to out");
    EXPECT_EQ(run->standardError, "to err");
    EXPECT_EQ(run->status, 3);
    EXPECT_FALSE(run->endedBySignal);
    EXPECT_FALSE(run->succeeded());
}

TEST(ChildProcess, PassesArgumentsWithoutAShell) {
    // A shell would expand the star and split the words; a direct exec hands them over unchanged.
    auto run = runChildProcess("/bin/echo", {"*", "two words", "$HOME"}, kGenerous);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->standardOutput, "* two words $HOME\n");
    EXPECT_TRUE(run->succeeded());
}

TEST(ChildProcess, OutputLargerThanAPipeDoesNotBlockTheChild) {
    auto run = runChildProcess(
        "/bin/sh", {"-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"}, kGenerous);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->standardOutput.size(), 300000u);
    EXPECT_EQ(run->standardError.size(), 300000u);
}

TEST(ChildProcess, StandardInputIsEmpty) {
    auto run = runChildProcess("/bin/cat", {}, kGenerous);
    ASSERT_TRUE(run.ok());
    EXPECT_TRUE(run->succeeded());
    EXPECT_EQ(run->standardOutput, "");
}

TEST(ChildProcess, LaunchFailureIsTheSystemError) {
    auto run = runChildProcess("/nonexistent/tool", {"x"}, kGenerous);
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error(), std::errc::no_such_file_or_directory);
}

TEST(ChildProcess, SignalEndIsReported) {
    auto run = runChildProcess("/bin/sh", {"-c", "kill -KILL $$"}, kGenerous);
    ASSERT_TRUE(run.ok());
    EXPECT_TRUE(run->endedBySignal);
    EXPECT_EQ(run->status, SIGKILL);
    EXPECT_FALSE(run->succeeded());
}

TEST(ChildProcess, HungChildIsKilledAtTheDeadline) {
    // The child would run for minutes; the outcome depends only on the deadline passing.
    auto run = runChildProcess("/bin/sleep", {"600"}, 100ms);
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error(), std::errc::timed_out);
}

TEST(ChildProcess, AChildThatExitedIsNotHeldUpByWhatItLeftRunning) {
    // The background sleep keeps both pipes open long after the shell itself has ended; the run is
    // over when the shell is, and the shell's pid (already reaped, free for reuse) is never killed.
    auto run = runChildProcess("/bin/sh", {"-c", "sleep 5 & echo done"}, 2s);
    ASSERT_TRUE(run.ok()) << run.error().message();
    EXPECT_TRUE(run->succeeded());
    EXPECT_EQ(run->standardOutput, "done\n");
}

}  // namespace
}  // namespace kestrune
