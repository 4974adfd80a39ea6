// Launch at Login through the real autostart folder: the switch's model over the XDG entry, in a
// temporary installed prefix and a temporary configuration folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "platform/linux/autostart/XdgAutostart.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << contents;
}

// An installed prefix: the program and the desktop entry that marks the installation.
fs::path makePrefix(const fs::path& prefix) {
    writeFile(prefix / "bin" / "murrelo", "#!/bin/sh\n");
    writeFile(prefix / "share" / "applications" / "zz.holvanis.murrelo.desktop",
              "[Desktop Entry]\n");
    return prefix / "bin" / "murrelo";
}

struct Installation {
    TemporaryDirectory root{"murrelo-autostart"};
    xdg_autostart::Locations locations;
    fs::path entry;

    explicit Installation(const std::string& prefixName = "usr") {
        locations.executable = makePrefix(root / prefixName);
        locations.autostartFolder = root / "config" / "autostart";
        entry = locations.autostartFolder / "zz.holvanis.murrelo.desktop";
    }
};

TEST(Autostart, SwitchingOnWritesTheEntryThatReadsBackAsEnabledAndOffRemovesIt) {
    Installation installation;
    LaunchAtLoginModel model(xdg_autostart::makeLoginItem(installation.locations));
    int changes = 0;
    auto subscription = model.observeChanges([&] { ++changes; });

    EXPECT_TRUE(model.loginItem().isInstalled);
    EXPECT_FALSE(model.isOn());
    EXPECT_TRUE(model.isSwitchEnabled());
    EXPECT_EQ(model.note(), std::nullopt);

    model.set(true);
    EXPECT_EQ(changes, 1);
    ASSERT_TRUE(fs::is_regular_file(installation.entry));
    const auto written = readWholeFile(installation.entry);
    ASSERT_TRUE(written);
    EXPECT_NE(
        written->find("Exec=" + (installation.root / "usr" / "bin" / "murrelo").string() + "\n"),
        std::string::npos)
        << *written;
    EXPECT_EQ(fs::status(installation.entry).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
    EXPECT_TRUE(model.isOn());
    EXPECT_EQ(model.note(), std::nullopt);

    // On again changes nothing: the status no longer allows registering.
    model.set(true);
    EXPECT_TRUE(model.isOn());

    model.set(false);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(fs::exists(installation.entry));
    EXPECT_FALSE(model.isOn());
    EXPECT_EQ(model.note(), std::nullopt);
}

TEST(Autostart, APrefixWithSpacesAndQuotesIsQuotedInExecAndStillReadsAsOurs) {
    Installation installation("my \"apps\" $HOME");
    LaunchAtLoginModel model(xdg_autostart::makeLoginItem(installation.locations));
    model.set(true);
    const auto written = readWholeFile(installation.entry);
    ASSERT_TRUE(written);
    // Quoted for Exec, then each backslash doubled by the file's own value escapes.
    EXPECT_NE(written->find("Exec=\"" + installation.root.path().string() +
                            "/my \\\\\"apps\\\\\" \\\\$HOME/bin/murrelo\"\n"),
              std::string::npos)
        << *written;
    EXPECT_TRUE(model.isOn());
}

TEST(Autostart, HiddenForeignOrOversizedEntriesAreNotOursAndSwitchingOnReplacesThem) {
    Installation installation;
    const fs::path program = installation.root / "usr" / "bin" / "murrelo";
    const std::vector<std::string> notEnabled = {
        "[Desktop Entry]\nExec=" + program.string() + "\nHidden=true\n",
        "[Desktop Entry]\nExec=" + program.string() + "\nX-GNOME-Autostart-enabled=false\n",
        "[Desktop Entry]\nExec=/usr/bin/someone-else --murrelo\n",
        "[Other Group]\nExec=" + program.string() + "\n",
        "[Desktop Entry]\nExec=" + program.string() + "\n#" +
            std::string(xdg_autostart::kLargestEntry, 'x') + "\n",
    };
    for (const auto& contents : notEnabled) {
        writeFile(installation.entry, contents);
        EXPECT_EQ(xdg_autostart::readStatus(installation.entry), LoginItemStatus::notRegistered)
            << contents.substr(0, 120);
    }
    // Our own entry written by hand, with a quoted program and arguments, is ours.
    writeFile(installation.entry, "# by hand\n[Desktop Entry]\nName=Murrelo\nExec=\"" +
                                      program.string() + "\" --quiet\n");
    EXPECT_EQ(xdg_autostart::readStatus(installation.entry), LoginItemStatus::enabled);

    writeFile(installation.entry, notEnabled.front());
    LaunchAtLoginModel model(xdg_autostart::makeLoginItem(installation.locations));
    EXPECT_FALSE(model.isOn());
    model.set(true);
    EXPECT_TRUE(model.isOn());
    EXPECT_EQ(readWholeFile(installation.entry)->find("Hidden"), std::string::npos);
}

TEST(Autostart, ABuildTreeIsNotTheApplicationAndWritesNothing) {
    TemporaryDirectory root("murrelo-autostart");
    writeFile(root / "build" / "Kestrune" / "murrelo", "#!/bin/sh\n");
    const xdg_autostart::Locations locations{.autostartFolder = root / "autostart",
                                             .executable = root / "build" / "Kestrune" / "murrelo"};
    LaunchAtLoginModel model(xdg_autostart::makeLoginItem(locations));
    EXPECT_FALSE(model.loginItem().isInstalled);
    EXPECT_FALSE(model.isSwitchEnabled());
    EXPECT_EQ(model.note(),
              localized("Not available here — Launch at Login works only from the installed app."));
    model.set(true);
    EXPECT_FALSE(fs::exists(root / "autostart"));
    EXPECT_FALSE(model.isOn());
}

// Switching on with a read-only autostart folder, as an unprivileged user: root ignores the
// folder's mode, so as root the attempt runs in a child that has given up its privileges.
std::string noteAfterSwitchingOnInReadOnlyFolder(const Installation& installation) {
    if (::geteuid() != 0) {
        LaunchAtLoginModel model(xdg_autostart::makeLoginItem(installation.locations));
        model.set(true);
        return model.note().value_or("(no note)");
    }
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return "(no pipe)";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        constexpr uid_t kNobody = 65534;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
        LaunchAtLoginModel model(xdg_autostart::makeLoginItem(installation.locations));
        model.set(true);
        const std::string note = model.note().value_or("(no note)");
        const bool wrote =
            ::write(pipeEnds[1], note.data(), note.size()) == static_cast<ssize_t>(note.size());
        ::_exit(wrote ? 0 : 3);
    }
    ::close(pipeEnds[1]);
    std::string note;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) note.append(buffer, n);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return note;
}

TEST(Autostart, AReadOnlyAutostartFolderGivesTheSystemsErrorAsTheNote) {
    Installation installation;
    fs::create_directories(installation.locations.autostartFolder);
    // Reachable by the unprivileged child, writable by nobody.
    fs::permissions(installation.root.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(installation.locations.autostartFolder,
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                        fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    for (const auto* folder : {"config", "usr", "usr/bin", "usr/share", "usr/share/applications"}) {
        fs::permissions(installation.root / folder, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }
    fs::permissions(installation.root / "usr/share/applications/zz.holvanis.murrelo.desktop",
                    fs::perms::others_read, fs::perm_options::add);

    const std::string note = noteAfterSwitchingOnInReadOnlyFolder(installation);
    EXPECT_NE(note.find(installation.locations.autostartFolder.string()), std::string::npos)
        << note;
    EXPECT_NE(note.find(std::strerror(EACCES)), std::string::npos) << note;
    EXPECT_FALSE(fs::exists(installation.entry));
}

}  // namespace
}  // namespace kestrune
