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
        // A writer waiting for a reader is let go by one that reads nothing.
        const int reader = ::open(pipe().c_str(), O_RDONLY | O_NONBLOCK);
        if (writer_.joinable()) writer_.join();
        if (reader >= 0) ::close(reader);
    }
    const fs::path& folder() const { return folder_.path(); }

    // From now on every reader of the pipe gets the real file: each opening waits for one, gets
    // the whole file and its end.
    void unblock() {
        // A reader that stops early must not end the test.
        ::signal(SIGPIPE, SIG_IGN);
        writer_ = std::thread([this] {
            while (!released_.load()) {
                const int fd = ::open(pipe().c_str(), O_WRONLY);
                if (fd < 0) return;
                if (!released_.load()) {
                    // Fails (EPIPE) only for a reader that stopped reading early.
                    const ssize_t written = ::write(fd, params_.data(), params_.size());
                    static_cast<void>(written);
                }
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

// Off in the suite: it hangs in about one run in ten on a loaded machine (the engine's way out
// never returns), and the cause is not found yet. Run it with --gtest_also_run_disabled_tests.
TEST(PocketSphinxEngine,
     DISABLED_CancellingDoesNotWaitForTheDecoderAndNothingIsReportedAfterwards) {
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
