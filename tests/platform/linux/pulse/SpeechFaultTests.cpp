// Failures under a real recording: each reaches the error callback exactly once, with the service
// already torn down. The switching tests reconfigure the shared test server and put it back; the
// test that kills a server starts a private one, so the shared one stays up for everyone else.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <thread>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/RecordingHarness.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/TestAudio.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::RecordingHarness;
using testing::runQuietly;

// Time for a second report to arrive if the service let one through. A fixed wait on purpose:
// what it checks is that nothing more comes.
constexpr auto kLateReportWindow = 700ms;

// A second null sink on the shared server, removed (and the default source restored) at the end.
class ExtraSink {
  public:
    ExtraSink() {
        const auto output = testing::commandOutput(
            "pactl load-module module-null-sink sink_name=extra_sink rate=16000 channels=1");
        module_ = std::atoi(output.c_str());
    }
    ~ExtraSink() {
        runQuietly("pactl set-default-source test_sink.monitor");
        if (!unloaded_) unload();
    }
    void unload() {
        runQuietly("pactl unload-module " + std::to_string(module_));
        unloaded_ = true;
    }
    int module() const { return module_; }

  private:
    int module_ = 0;
    bool unloaded_ = false;
};

// Sets an environment variable for the test and restores it afterwards.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = ::getenv(name)) previous_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> previous_;
};

void expectSingleReport(RecordingHarness& harness, const std::string& englishMessage) {
    ASSERT_TRUE(harness.waitForError());
    std::this_thread::sleep_for(kLateReportWindow);
    const auto errors = harness.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front(), KestruneError::recordingFailed(localized(englishMessage)));
    EXPECT_FALSE(harness.isRecording());
    EXPECT_EQ(harness.onQueue([&] { return harness.isRecording(); }), false);
    // A stop after the failure has nothing to wait for.
    EXPECT_TRUE(harness.stop().ok());
}

TEST(SpeechFaults, SwitchingTheDefaultSourceEndsTheRecordingOnce) {
    ExtraSink extra;
    ASSERT_GT(extra.module(), 0);
    RecordingHarness harness;
    ASSERT_TRUE(harness.start().ok());
    // The stream is delivering once a buffer has come through.
    ASSERT_TRUE(harness.waitForBuffers(1));
    ASSERT_TRUE(runQuietly("pactl set-default-source extra_sink.monitor"));
    expectSingleReport(harness, "Audio input changed. Please try again.");
}

TEST(SpeechFaults, UnloadingTheSourceModuleEndsTheRecordingOnce) {
    ExtraSink extra;
    ASSERT_GT(extra.module(), 0);
    ASSERT_TRUE(runQuietly("pactl set-default-source extra_sink.monitor"));
    RecordingHarness harness;
    ASSERT_TRUE(harness.start().ok());
    // The stream is delivering once a buffer has come through.
    ASSERT_TRUE(harness.waitForBuffers(1));
    extra.unload();
    expectSingleReport(harness, "Audio input changed. Please try again.");
}

TEST(SpeechFaults, AServerThatDiesEndsTheRecordingOnce) {
    testing::TemporaryDirectory home("speech-private-pulse");
    const auto runtime = home / "run";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    // Off the session bus, where the shared server already holds PulseAudio's name.
    const std::string environment = "env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY HOME='" +
                                    home.path().string() + "' XDG_CONFIG_HOME='" +
                                    home.path().string() + "' XDG_RUNTIME_DIR='" +
                                    runtime.string() + "' ";
    ASSERT_TRUE(runQuietly(environment +
                           "pulseaudio -n -D --exit-idle-time=-1 --system=false "
                           "--load='module-native-protocol-unix auth-anonymous=1' "
                           "--load='module-null-sink sink_name=private_sink rate=16000 channels=1' "
                           "--load=module-always-sink"));
    const auto pidFile = runtime / "pulse" / "pid";
    ScopedEnvironment server("PULSE_SERVER", "unix:" + (runtime / "pulse" / "native").string());
    ASSERT_TRUE(runQuietly("pactl set-default-source private_sink.monitor"));
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);

    RecordingHarness harness;
    ASSERT_TRUE(harness.start().ok());
    // The stream is delivering once a buffer has come through.
    ASSERT_TRUE(harness.waitForBuffers(1));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    expectSingleReport(harness, "The audio server stopped during the recording. Please try again.");
    EXPECT_FALSE(PulseAudioCapture::inputAvailable());
}

TEST(SpeechFaults, WithoutAServerStartSaysSoAtOnce) {
    testing::TemporaryDirectory nowhere("speech-no-pulse");
    ScopedEnvironment server("PULSE_SERVER", "unix:" + (nowhere / "native").string());
    RecordingHarness harness;
    const auto started = harness.start();
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error(),
              KestruneError::recordingFailed(localized(
                  "No audio server is running. Start PulseAudio or PipeWire and try again.")));
    EXPECT_FALSE(harness.isRecording());
    EXPECT_TRUE(harness.errors().empty());
    EXPECT_FALSE(PulseAudioCapture::inputAvailable());
}

TEST(SpeechFaults, TheTestServerCountsAsAMicrophone) {
    EXPECT_TRUE(PulseAudioCapture::inputAvailable());
}

}  // namespace
}  // namespace kestrune
