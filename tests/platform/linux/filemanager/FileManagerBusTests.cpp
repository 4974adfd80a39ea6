// The file-manager question against a stand-in service on a real session bus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/filemanager/FileManagerFrontWindow.hpp"

namespace kestrune {
namespace {

using FileManagerFolder::Answer;

class StandIn {
  public:
    explicit StandIn(const std::vector<std::string>& args) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            std::vector<char*> argv;
            std::string script =
                std::string(MURRELO_SOURCE_DIR) + "/tests/support/file_manager_standin.py";
            argv.push_back(const_cast<char*>("/usr/bin/python3"));
            argv.push_back(script.data());
            for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        // Wait until the service owns its name; it prints one line then.
        char line[16] = {};
        ready_ = read(out[0], line, sizeof line - 1) > 0 && std::string(line).starts_with("ready");
        // Kept open while the service runs: a closed pipe would break its next write.
        output_ = out[0];
    }
    ~StandIn() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) close(output_);
    }
    bool ready() const { return ready_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    bool ready_ = false;
};

class FileManagerBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            FAIL() << "needs a session bus: run under scripts/with-test-services";
        }
    }
};

TEST_F(FileManagerBus, FrontWindowLocationBecomesTheFolder) {
    StandIn fm({"answer", "file:///home/ana/Desktop"});
    ASSERT_TRUE(fm.ready());
    EXPECT_EQ(askFileManagerFrontWindow(), Answer::makeFolder("/home/ana/Desktop"));
}

TEST_F(FileManagerBus, RefusalEmptinessAndAbsenceAreTold) {
    {
        StandIn fm({"refuse"});
        ASSERT_TRUE(fm.ready());
        EXPECT_EQ(askFileManagerFrontWindow(), Answer::denied());
    }
    {
        StandIn fm({"empty"});
        ASSERT_TRUE(fm.ready());
        EXPECT_EQ(askFileManagerFrontWindow(), Answer::none());
    }
    EXPECT_EQ(askFileManagerFrontWindow(), Answer::none());  // nobody owns the name
}

TEST_F(FileManagerBus, SlowFileManagerLeadsToATimeOutWithoutBlockingTheNextPicture) {
    StandIn fm({"slow", "file:///home/ana/Desktop"});
    ASSERT_TRUE(fm.ready());
    FileManagerFolder::SerialAsker asker(askFileManagerFrontWindow);
    EXPECT_EQ(asker.ask(std::chrono::milliseconds(200)), Answer::timedOut());
    // While the first question is unanswered, a second picture does not wait at all.
    EXPECT_EQ(asker.ask(std::chrono::seconds(10)), Answer::timedOut());
}

}  // namespace
}  // namespace kestrune
