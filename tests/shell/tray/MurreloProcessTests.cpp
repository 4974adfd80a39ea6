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

    // The application in a network namespace with one local network interface of its own;
    // `setup` runs there first.
    std::unique_ptr<ChildProcess> startInstance(const std::string& setup = "") {
        const std::string script =
            "ip link set lo up && ip link add eth7 type veth peer name eth8 && "
            "ip addr add 10.77.0.2/24 dev eth7 && ip link set eth7 up && ip link set eth8 up && " +
            setup + "exec \"$0\"";
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

// Every file beside `file` that a start kept aside.
std::vector<fs::path> keptAside(const fs::path& file) {
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(file.filename().string() + ".unreadable-"))
            kept.push_back(entry.path());
    }
    return kept;
}

// Damaged settings and a damaged paired phone: both files are kept byte for byte, the user is
// told once where they went, the program runs with its defaults and keeps the sound pairings.
TEST_F(MurreloProgram, DamagedStoredFilesAreKeptAsideAndReportedOnce) {
    if (std::getenv("DISPLAY") == nullptr || std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        GTEST_SKIP()
            << "needs an X display and a session bus: run under scripts/with-test-services";
    }
    if (std::system("unshare --net true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs to make a network namespace (root)";
    }
    const auto settings = config() / "zz.holvanis.murrelo.json";
    const std::string damagedSettings = "{\n  \"triggerKey\": \"rightOption\",,\n";
    std::ofstream(settings) << damagedSettings;
    const auto devices = folder_ / "data" / "Murrelo" / "Remote" / "devices.json";
    fs::create_directories(devices.parent_path());
    const auto device = [](char last) {
        return std::string(R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4)") + last +
               R"(","name":"Phone","secretHash":"x","pairedAt":1,"lastConnectedAt":2})";
    };
    const std::string damagedDevices = "[" + device('D') +
                                       R"(,{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E"},)" +
                                       device('F') + "]";
    std::ofstream(devices) << damagedDevices;

    DesktopStandIn desktop(folder_.path(), {"watcher", "notifications"});
    ASSERT_TRUE(desktop.ready()) << desktop.output();
    auto instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    EXPECT_EQ(ctl({"phone", "status"}).out, "off\n");

    const auto keptSettings = keptAside(settings);
    ASSERT_EQ(keptSettings.size(), 1u);
    EXPECT_EQ(fileText(keptSettings[0]), damagedSettings);
    const auto keptDevices = keptAside(devices);
    ASSERT_EQ(keptDevices.size(), 1u);
    EXPECT_EQ(fileText(keptDevices[0]), damagedDevices);
    // One notice for both, naming where each file was and where it is now.
    EXPECT_TRUE(desktop.waitForOutput(keptDevices[0].string(), kLimit)) << desktop.output();
    const auto notices = desktop.lines("notify");
    ASSERT_EQ(notices.size(), 1u) << desktop.output();
    for (const auto& path : {settings, keptSettings[0], devices, keptDevices[0]}) {
        EXPECT_NE(desktop.output().find(path.string()), std::string::npos) << path;
    }
    EXPECT_NE(desktop.output().find("entry 2 (0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E)"),
              std::string::npos)
        << desktop.output();

    // The settings run on from their defaults, and what is changed now is saved again.
    EXPECT_EQ(ctl({"phone", "on"}).status, 0);
    const auto quit = ctl({"quit"});
    EXPECT_EQ(quit.status, 0) << quit.err;
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
    EXPECT_NE(fileText(settings).find("\"remoteInputEnabled\": true"), std::string::npos)
        << fileText(settings);
    // The file holds the two sound pairings, the damaged one only its kept copy.
    const auto rewritten = fileText(devices);
    EXPECT_NE(rewritten.find("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"), std::string::npos);
    EXPECT_NE(rewritten.find("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4F"), std::string::npos);
    EXPECT_EQ(rewritten.find("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E"), std::string::npos);
}

bool canRunAnInstance() {
    return std::getenv("DISPLAY") != nullptr &&
           std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr &&
           std::system("unshare --net true 2>/dev/null") == 0;
}

// Every port the server could take is taken in the instance's namespace: the preferred one, and
// the whole (narrowed) range it falls back to. Python holds them until the application is gone.
TEST_F(MurreloProgram, ASecretServiceThatNeverAnswersHoldsUpNeitherTheIconNorControl) {
    if (std::getenv("DISPLAY") == nullptr ||
        std::system("command -v dbus-daemon >/dev/null") != 0) {
        GTEST_SKIP() << "needs an X display and dbus-daemon: run under scripts/with-test-services";
    }
    if (std::system("unshare --net true 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs to make a network namespace (root)";
    }
    // A session bus of its own, since the test bus's keyring answers.
    const auto socket = folder_ / "bus";
    ChildProcess bus(
        {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket.string()}, {},
        folder_.path(), "bus");
    const auto busDeadline = std::chrono::steady_clock::now() + kLimit;
    while (!fs::exists(socket) && std::chrono::steady_clock::now() < busDeadline) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(fs::exists(socket)) << bus.errors();
    const char* testBus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string restoredBus = testBus ? testBus : "";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket.string()).c_str(), 1);
    struct RestoreBus {
        std::string address;
        ~RestoreBus() {
            if (address.empty()) {
                ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
            } else {
                ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
            }
        }
    } restore{restoredBus};

    DesktopStandIn desktop(folder_.path(), {"watcher", "silent-secrets"});
    ASSERT_TRUE(desktop.ready()) << desktop.output();
    const auto started = std::chrono::steady_clock::now();
    auto instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    const auto answered = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(desktop.waitForOutput("item ", kLimit)) << "no tray icon: " << desktop.output();
    EXPECT_TRUE(desktop.waitForOutput("secrets ", kLimit))
        << "the key store was never asked: " << desktop.output();
    // A start that waited for the store would take at least its two reads' bound of 3 s each;
    // an unhindered start takes under a second here, even under the sanitizers.
    EXPECT_LT(answered, 6s);

    const auto quit = ctl({"quit"});
    EXPECT_EQ(quit.status, 0) << quit.err;
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
}

TEST_F(MurreloProgram, PhoneOnExitsOneWithTheReasonWhenTheServerCannotStart) {
    if (!canRunAnInstance()) {
        GTEST_SKIP() << "needs an X display, a session bus and a network namespace (root): run "
                        "as root under scripts/with-test-services";
    }
    std::ofstream(config() / "zz.holvanis.murrelo.json") << "{\n  \"remoteInputPort\": 52111\n}\n";
    const std::string occupy =
        "import os, socket, time\n"
        "parent = os.getppid()\n"
        "held = []\n"
        "for port in (40000, 40001, 52111):\n"
        "    s = socket.socket(socket.AF_INET6)\n"
        "    s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)\n"
        "    s.bind(('::', port))\n"
        "    s.listen()\n"
        "    held.append(s)\n"
        "open('" +
        (folder_ / "occupied").string() +
        "', 'w').close()\n"
        "while os.getppid() == parent:\n"
        "    time.sleep(0.2)\n";
    std::ofstream(folder_ / "occupy.py") << occupy;
    DesktopStandIn desktop(folder_.path(), {"watcher", "notifications"});
    ASSERT_TRUE(desktop.ready()) << desktop.output();
    auto instance = startInstance(
        "sysctl -qw net.ipv4.ip_local_port_range='40000 40001' && "
        "{ python3 " +
        (folder_ / "occupy.py").string() +
        " & } && "
        "while [ ! -e " +
        (folder_ / "occupied").string() + " ]; do sleep 0.1; done && ");
    ASSERT_TRUE(waitForInstance()) << instance->errors();

    const auto on = ctl({"phone", "on"});
    EXPECT_EQ(on.status, 1) << on.out;
    EXPECT_EQ(on.out, "");
    EXPECT_TRUE(on.err.starts_with("Phone Connection could not start")) << on.err;
    EXPECT_EQ(ctl({"phone", "status"}).out, "off\n");
    EXPECT_EQ(ctl({"quit"}).status, 0);
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
}

// "stored" is said only once the item is on disk: the application killed right after the answer
// finds it again at the next start.
TEST_F(MurreloProgram, SendClipboardAnswersOnceTheItemIsStored) {
    if (!canRunAnInstance()) {
        GTEST_SKIP() << "needs an X display, a session bus and a network namespace (root): run "
                        "as root under scripts/with-test-services";
    }
    const auto remote = folder_ / "data" / "Murrelo" / "Remote";
    fs::create_directories(remote);
    std::ofstream(remote / "devices.json")
        << R"([{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","name":"Phone","secretHash":"x",)"
           R"("pairedAt":1,"lastConnectedAt":2}])";
    const std::string text = "kept through a crash";
    std::ofstream(folder_ / "clip.txt") << text;
    ChildProcess clipboard(
        {"xclip", "-selection", "clipboard", "-quiet", "-i", (folder_ / "clip.txt").string()},
        environment_, folder_.path(), "xclip");
    DesktopStandIn desktop(folder_.path(), {"watcher", "notifications"});
    ASSERT_TRUE(desktop.ready()) << desktop.output();
    auto instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();

    const auto sent = ctl({"send-clipboard"});
    ::kill(instance->pid(), SIGKILL);
    instance->wait(kLimit);
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, "stored\n");

    const auto items = [&] {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(remote / "outbox")) {
            const auto name = entry.path().filename().string();
            if (name != "state.json") found.push_back(name);
        }
        return found;
    };
    ASSERT_EQ(items().size(), 1u);
    EXPECT_NE(fileText(remote / "outbox" / items()[0]).find(text), std::string::npos);
    // The next start takes it as its own, without keeping anything aside.
    instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    EXPECT_EQ(ctl({"quit"}).status, 0);
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
    EXPECT_EQ(items().size(), 1u);
}

// The key file of the identity phones pin is gone: a new identity is made, the old files are
// kept, the user hears that phones must pair again, and the paired phones are marked so.
TEST_F(MurreloProgram, ANewIdentityIsAnnouncedAndThePairedPhonesMarked) {
    if (!canRunAnInstance()) {
        GTEST_SKIP() << "needs an X display, a session bus and a network namespace (root): run "
                        "as root under scripts/with-test-services";
    }
    const auto remote = folder_ / "data" / "Murrelo" / "Remote";
    DesktopStandIn desktop(folder_.path(), {"watcher", "notifications"});
    ASSERT_TRUE(desktop.ready()) << desktop.output();
    // A first run makes the identity.
    auto instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    ASSERT_EQ(ctl({"phone", "on"}).status, 0) << instance->errors();
    EXPECT_EQ(ctl({"quit"}).status, 0);
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();
    const std::string oldCertificate = fileText(remote / "cert.der");
    ASSERT_FALSE(oldCertificate.empty());

    std::ofstream(remote / "devices.json")
        << R"([{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","name":"Phone","secretHash":"x",)"
           R"("pairedAt":1,"lastConnectedAt":2}])";
    fs::remove(remote / "key.der");
    instance = startInstance();
    ASSERT_TRUE(waitForInstance()) << instance->errors();
    const auto on = ctl({"phone", "on"});
    EXPECT_EQ(on.status, 0) << on.err << instance->errors();
    EXPECT_TRUE(desktop.waitForOutput("Phone Connection has a new identity: pair your phones again",
                                      kLimit))
        << desktop.output();
    EXPECT_EQ(ctl({"quit"}).status, 0);
    EXPECT_EQ(instance->wait(kLimit), 0) << instance->errors();

    const auto kept = keptAside(remote / "cert.der");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(fileText(kept[0]), oldCertificate);
    EXPECT_NE(fileText(remote / "cert.der"), oldCertificate);
    EXPECT_NE(fileText(remote / "devices.json").find("\"needsNewPairing\" : true"),
              std::string::npos)
        << fileText(remote / "devices.json");
    EXPECT_NE(instance->errors().find("making a new one"), std::string::npos) << instance->errors();
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
    // The test's clipboard is empty: nothing is stored, and the feedback says so beside the icon,
    // as a notification.
    const auto sent = ctl({"send-clipboard"});
    EXPECT_EQ(sent.status, 1);
    EXPECT_EQ(sent.err, "The clipboard is empty\n");
    EXPECT_TRUE(desktop.waitForOutput("notify 1 0 4000 Murrelo|The clipboard is empty", kLimit))
        << desktop.output();

    const auto on = ctl({"phone", "on"});
    EXPECT_EQ(on.status, 0) << on.err << instance->errors();
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
