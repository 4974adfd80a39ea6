#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/linux/pocketsphinx/PocketSphinxEngine.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// The installed model, except that its first file is a named pipe: the decoding thread, loading
// the model, blocks until someone writes it, as a decoder stuck in its last pass would block.
class StuckModel {
  public:
    StuckModel() {
        const fs::path installed(PocketSphinxEngine::kDefaultModelFolder);
        fs::create_directories(folder_.path() / "en-us");
        for (const char* name : {"en-us.lm.bin", "cmudict-en-us.dict"}) {
            fs::create_symlink(installed / name, folder_.path() / name);
        }
        for (const auto& entry : fs::directory_iterator(installed / "en-us")) {
            const auto name = entry.path().filename();
            if (name != "feat.params")
                fs::create_symlink(entry.path(), folder_.path() / "en-us" / name);
        }
        std::ifstream params(installed / "en-us" / "feat.params");
        params_.assign(std::istreambuf_iterator<char>(params), {});
        EXPECT_EQ(::mkfifo(pipe().c_str(), 0600), 0);
    }
    ~StuckModel() {
        released_ = true;
        if (writer_.joinable()) writer_.join();
    }
    const fs::path& folder() const { return folder_.path(); }

    // From now on every reader of the pipe gets the real file.
    void unblock() {
        // A reader that stops early must not end the test.
        ::signal(SIGPIPE, SIG_IGN);
        writer_ = std::thread([this] {
            while (!released_.load()) {
                const int fd = ::open(pipe().c_str(), O_WRONLY | O_NONBLOCK);
                if (fd < 0) {
                    std::this_thread::yield();
                    continue;
                }
                ::fcntl(fd, F_SETFL, 0);
                EXPECT_EQ(::write(fd, params_.data(), params_.size()),
                          static_cast<ssize_t>(params_.size()));
                ::close(fd);
            }
        });
    }

  private:
    fs::path pipe() const { return folder_.path() / "en-us" / "feat.params"; }

    testing::TemporaryDirectory folder_{"stuck-model"};
    std::string params_;
    std::atomic<bool> released_{false};
    std::thread writer_;
};

TEST(PocketSphinxEngine, CancellingDoesNotWaitForTheDecoderAndNothingIsReportedAfterwards) {
    if (!PocketSphinxEngine().isAvailable(PocketSphinxEngine::kLocale)) {
        GTEST_SKIP() << "needs the installed US English model";
    }
    StuckModel model;
    std::atomic<int> reports{0};
    {
        PocketSphinxEngine engine({.modelFolder = model.folder()});
        auto task = engine.startTask({"en-US", {}}, {[&](SpeechRecognitionResult) { ++reports; },
                                                     [&](KestruneError) { ++reports; }});
        ASSERT_TRUE(task);
        task.value()->endAudio();
        // Returns although the decoding thread is stuck; waiting for it would hang the test.
        task.value()->cancel();
        task.value().reset();
        // The engine waits for the thread on its way out, once the model has loaded; the cancelled
        // recording reports nothing.
        model.unblock();
    }
    EXPECT_EQ(reports.load(), 0);
}

}  // namespace
}  // namespace kestrune
