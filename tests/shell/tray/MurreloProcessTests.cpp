// The `murrelo` program as a user starts it: its self-check, its options, no display, a second
// start, and every `murrelo ctl` command against a running instance and against none. The running
// instance lives in a network namespace of the test's own (its listener and pairing address stay
// there) and cannot reach the system bus (so nothing is announced on any network).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::DesktopStandIn;
using testing::TemporaryDirectory;
namespace fs = std::filesystem;

// Starting under AddressSanitizer on a busy machine, and a first server start that makes its
// certificate, take seconds; the limits leave ten times that.
constexpr auto kLimit = 120s;

const std::string kMurrelo = MURRELO_EXECUTABLE;

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// Polls the X server's window tree until `text` appears in it.
bool windowTreeHas(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (testing::commandOutput("xwininfo -root -tree").find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

class MurreloProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(config());
        fs::create_directories(folder_ / "data");
        environment_ = {
            {"XDG_CONFIG_HOME", config().string()},
            {"XDG_DATA_HOME", (folder_ / "data").string()},
            // No announcement on any network, no host name from systemd: no system bus.
            {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (folder_ / "no-system-bus").string()},
            {"LANG", "C.UTF-8"},
            {"LANGUAGE", std::nullopt},
        };
    }

    fs::path config() const { return folder_ / "config"; }

    Finished run(std::vector<std::string> arguments, ChildProcess::Environment extra = {}) {
        auto environment = environment_;
        for (auto& [key, value] : extra) environment[key] = value;
        arguments.insert(arguments.begin(), kMurrelo);
        ChildProcess process(arguments, environment, folder_.path(),
                             "run" + std::to_string(++runs_));
        const auto status = process.wait(kLimit);
        EXPECT_TRUE(status.has_value()) << arguments[1] << " did not finish";
        return {status.value_or(-1), process.output(), process.errors()};
    }

    Finished ctl(std::vector<std::string> words) {
        words.insert(words.begin(), "ctl");
        return run(std::move(words));
    }

    // The application in a network namespace with one local network interface of its own.
    std::unique_ptr<ChildProcess> startInstance() {
        const std::string script =
            "ip link set lo up && ip link add eth7 type veth peer name eth8 && "
            "ip addr add 10.77.0.2/24 dev eth7 && ip link set eth7 up && ip link set eth8 up && "
            "exec \"$0\"";
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"unshare", "--net", "sh", "-c", script, kMurrelo},
            environment_, folder_.path(), "instance");
    }

    bool waitForInstance() {
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ctl({"phone", "status"}).status == 0) return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }

    TemporaryDirectory folder_{"murrelo-program"};
    ChildProcess::Environment environment_;
    int runs_ = 0;
};

TEST_F(MurreloProgram, L10nCheckPrintsThreeLinesAndTouchesNothing) {
    // An earlier edition's settings wait for their import; the self-check must not run it.
    const fs::path legacy = config() / "zz.pellam.kestrune.json";
    std::ofstream(legacy) << "{\n  \"remoteInputPort\": 52111\n}\n";
    const auto first = run({"--l10n-check"}, {{"DISPLAY", std::nullopt}});
    EXPECT_EQ(first.status, 0) << first.err;
    auto lines = linesOf(first.out);
    ASSERT_EQ(lines.size(), 3u) << first.out;
    EXPECT_TRUE(lines[0].starts_with("mac: ") && lines[0].ends_with("en.po")) << lines[0];
    EXPECT_EQ(lines[1], "Phone Connection / Pair a New Phone… / just now");
    EXPECT_TRUE(lines[2].starts_with("kit: ")) << lines[2];
    EXPECT_FALSE(fs::exists(config() / "zz.holvanis.murrelo.json")) << "a setting was written";
    EXPECT_EQ(fileText(legacy), "{\n  \"remoteInputPort\": 52111\n}\n");

    // With Simplified Chinese stored, the texts follow it; the file stays byte for byte.
    const fs::path settings = config() / "zz.holvanis.murrelo.json";
    std::ofstream(settings) << "{\n  \"interfaceLanguage\": \"zh-Hans\"\n}\n";
    const auto before = fs::last_write_time(settings);
    const auto second = run({"--l10n-check"}, {{"DISPLAY", std::nullopt}});
    lines = linesOf(second.out);
    ASSERT_EQ(lines.size(), 3u) << second.out;
    EXPECT_TRUE(lines[0].ends_with("zh-Hans.po")) << lines[0];
    EXPECT_NE(lines[1], "Phone Connection / Pair a New Phone… / just now");
    EXPECT_EQ(lines[2], "kit: 电脑没有回应");
    EXPECT_EQ(fileText(settings), "{\n  \"interfaceLanguage\": \"zh-Hans\"\n}\n");
    EXPECT_EQ(fs::last_write_time(settings), before);
}

TEST_F(MurreloProgram, HelpVersionAndWrongArguments) {
    const auto help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("murrelo ctl"), std::string::npos) << help.out;
    const auto version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(linesOf(version.out).front(), "murrelo " MURRELO_VERSION);
    // Under the test's X server, without Wayland: what serves each need there.
    EXPECT_NE(version.out.find("session: X11\ntyping: XTest\n"), std::string::npos) << version.out;
    const auto wrong = run({"--frobnicate"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("usage:"), std::string::npos);
    const auto wrongCtl = ctl({"phone", "sideways"});
    EXPECT_EQ(wrongCtl.status, 2);
    EXPECT_NE(wrongCtl.err.find("usage:"), std::string::npos);
}

TEST_F(MurreloProgram, WithoutAnXDisplayOneSentenceAndStatusOne) {
    const auto wayland = run({}, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", "wayland-0"}});
    EXPECT_EQ(wayland.status, 1);
    EXPECT_EQ(linesOf(wayland.err).size(), 1u) << wayland.err;
    EXPECT_NE(wayland.err.find("shows its windows through XWayland"), std::string::npos)
        << wayland.err;
    const auto none = run({}, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(linesOf(none.err).size(), 1u) << none.err;
    EXPECT_NE(none.err.find("needs an X display"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(config() / "zz.holvanis.murrelo.json"));
}

TEST_F(MurreloProgram, EveryControlCommandWithNoInstanceRunning) {
    for (const auto& words : std::vector<std::vector<std::string>>{{"send-clipboard"},
                                                                   {"phone", "on"},
                                                                   {"phone", "off"},
                                                                   {"phone", "toggle"},
                                                                   {"phone", "pair"},
                                                                   {"phone", "status"},
                                                                   {"dictation", "press"},
                                                                   {"dictation", "release"},
                                                                   {"dictation", "toggle"},
                                                                   {"settings"},
                                                                   {"welcome"},
                                                                   {"quit"}}) {
        const auto result = ctl(words);
        EXPECT_EQ(result.status, 1) << words[0];
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Murrelo is not running: start it with “murrelo” first.\n");
    }
}

// Without a StatusNotifierItem host, the icon docks into an XEmbed tray (trayer's panel); the
// session's end (SIGTERM) quits cleanly.
TEST_F(MurreloProgram, TheIconDocksIntoAnXEmbedTrayAndSigtermQuits) {
    if (std::getenv("DISPLAY") == nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP()
            << "needs an X display and a session bus: run under scripts/with-test-services";
    }
    if (std::system("command -v trayer >/dev/null && command -v xwininfo >/dev/null") != 0) {
        GTEST_SKIP() << "needs trayer and xwininfo";
    }
    ChildProcess tray({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                       "--height", "32", "--SetDockType", "true", "--transparent", "false"},
                      environment_, folder_.path(), "trayer");
    ASSERT_TRUE(windowTreeHas("(\"panel\" \"trayer\")")) << tray.errors();
    auto instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    // The icon's window, of the program's class (Qt's other windows have none), docked.
    EXPECT_TRUE(windowTreeHas("\"Murrelo\": (\"murrelo\" \"murrelo\")"))
        << testing::commandOutput("xwininfo -root -tree");
    // The session ending (SIGTERM) quits as the menu's Quit does.
    ::kill(instance->pid(), SIGTERM);
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
}

TEST_F(MurreloProgram, RunningInstanceAnswersEveryControlCommandAndASecondStart) {
    if (std::getenv("DISPLAY") == nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP()
            << "needs an X display and a session bus: run under scripts/with-test-services";
    }
    if (std::system("unshare --net true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs to make a network namespace (root)";
    }
    // The earlier edition's settings are imported at a normal start (never by the self-check).
    std::ofstream(config() / "zz.pellam.kestrune.json") << "{\n  \"remoteInputPort\": 52111\n}\n";
    DesktopStandIn desktop(folder_.path(), {"watcher", "notifications"});
    ASSERT_TRUE(desktop.ready()) << desktop.output();
    auto instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    const std::string imported = fileText(config() / "zz.holvanis.murrelo.json");
    EXPECT_NE(imported.find("\"remoteInputPort\": 52111"), std::string::npos) << imported;
    EXPECT_NE(imported.find("\"migratedFromKestrune\": true"), std::string::npos) << imported;
    EXPECT_TRUE(desktop.waitForOutput("item ", kLimit)) << "no tray icon: " << desktop.output();

    // A second start asks the first to open its settings and ends.
    const auto second = run({});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_NE(instance->errors().find("settings window requested"), std::string::npos)
        << instance->errors();
    EXPECT_FALSE(instance->wait(0ms).has_value()) << "the first instance must keep running";

    EXPECT_EQ(ctl({"phone", "status"}).out, "off\n");
    const auto sent = ctl({"send-clipboard"});
    EXPECT_EQ(sent.status, 0) << sent.err;
    // The test's clipboard is empty: the feedback says so beside the icon, as a notification.
    EXPECT_TRUE(desktop.waitForOutput("notify 1 0 4000 Murrelo|The clipboard is empty", kLimit))
        << desktop.output();

    const auto on = ctl({"phone", "on"});
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out, "on\n");
    EXPECT_EQ(ctl({"phone", "status"}).out, "on\n");
    const auto toggled = ctl({"phone", "toggle"});
    EXPECT_EQ(toggled.status, 0) << toggled.err;
    EXPECT_EQ(toggled.out, "off\n");
    EXPECT_EQ(ctl({"phone", "status"}).out, "off\n");

    // Pairing turns Phone Connection on and prints the link the window shows.
    const auto pair = ctl({"phone", "pair"});
    EXPECT_EQ(pair.status, 0) << pair.err;
    EXPECT_TRUE(pair.out.starts_with("kestrune://pair?")) << pair.out;
    // The address of the namespace's own interface (the link percent-encodes its dots).
    EXPECT_NE(pair.out.find("h=10%2E77%2E0%2E2&"), std::string::npos) << pair.out;
    EXPECT_EQ(ctl({"phone", "status"}).out, "on\n");
    EXPECT_EQ(ctl({"phone", "off"}).out, "off\n");

    // Push-to-talk from a key binding: press, release, and a toggle pair.
    for (const auto& words : std::vector<std::vector<std::string>>{{"dictation", "press"},
                                                                   {"dictation", "release"},
                                                                   {"dictation", "toggle"},
                                                                   {"dictation", "toggle"}}) {
        const auto result = ctl(words);
        EXPECT_EQ(result.status, 0) << words[1] << ": " << result.err;
        EXPECT_EQ(result.out, "");
    }
    // The settings window (already opened by the second start above) comes up on its first pane.
    const auto settings = ctl({"settings"});
    EXPECT_EQ(settings.status, 0) << settings.err;
    EXPECT_TRUE(windowTreeHas("\"General — Murrelo\"")) << "no settings window";
    const auto welcome = ctl({"welcome"});
    EXPECT_EQ(welcome.status, 0) << welcome.err;
    // (The imported settings hold a push-to-talk key, so it did not open by itself at launch.)
    EXPECT_TRUE(windowTreeHas("\"Welcome to Murrelo\"")) << "no welcome window";

    const auto quit = ctl({"quit"});
    EXPECT_EQ(quit.status, 0) << quit.err;
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
    EXPECT_EQ(ctl({"phone", "status"}).status, 1);
}

}  // namespace
}  // namespace kestrune
