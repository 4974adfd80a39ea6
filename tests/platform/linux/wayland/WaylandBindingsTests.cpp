#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "Kestrune/tray/CompositorBindings.hpp"
#include "WaylandSession.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> found;
    for (std::string line; std::getline(in, line);) found.push_back(line);
    return found;
}

// sway's own bindings, spelled as `murrelo ctl bindings` prints them, run the control command on
// the trigger key's press and again on its release, once each, however long the key is held.
TEST(CompositorBindings, SwayRunsPressOnPressAndReleaseOnRelease) {
    using testing::sway;
    if (sway == nullptr) GTEST_SKIP() << "needs a headless sway: " << testing::swayMissing();
    if (::access("/usr/bin/wtype", X_OK) != 0) GTEST_SKIP() << "needs wtype";
    // Stands in for `murrelo`: notes each command it is given, with the time.
    const auto log = sway->folder() / "commands.log";
    const auto program = sway->folder() / "murrelo-standin";
    {
        std::ofstream script(program);
        script << "#!/bin/sh\necho \"$(date +%s.%N) $*\" >> " << log.string() << "\n";
    }
    ::chmod(program.c_str(), 0755);
    const auto config = tray::compositorBindings(program.string(), {"Alt_R", "k", 0x100000});
    std::istringstream in(config.substr(0, config.find("\n\n")));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        EXPECT_NE(sway->message(line).find("\"success\": true"), std::string::npos) << line;
    }

    // Held past the key-repeat delay: a repeating press would show up as a second "press".
    testing::ChildProcess hold(
        sway->asUser({"/usr/bin/wtype", "-P", "Alt_R", "-s", "700", "-p", "Alt_R"}), {},
        sway->folder(), "wtype");
    EXPECT_EQ(hold.wait(20s), 0);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (lines(log).size() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    const auto commands = lines(log);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_NE(commands[0].find("ctl dictation press"), std::string::npos) << commands[0];
    EXPECT_NE(commands[1].find("ctl dictation release"), std::string::npos) << commands[1];
    const double held = std::stod(commands[1]) - std::stod(commands[0]);
    EXPECT_GE(held, 0.6) << "the release came before the key was let go";
}

}  // namespace
}  // namespace kestrune
