#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Kestrune/phone/images/ImageFileSaver.hpp"
#include "Kestrune/phone/images/ImageSaveLocation.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;
using Answer = FileManagerFolder::Answer;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const auto kNoon = std::chrono::system_clock::from_time_t(1'780'000'000);

TEST(ImageFileSaver, PicturesSavedInOneSecondGetNumberedNamesAndNeverOverwrite) {
    TemporaryDirectory folder{"murrelo-images", "/tmp"};
    const auto first = ImageFileSaver::save("one", ImageFormat::jpeg, folder.path(), kNoon);
    const auto second = ImageFileSaver::save("two", ImageFormat::jpeg, folder.path(), kNoon);
    const auto third = ImageFileSaver::save("three", std::nullopt, folder.path(), kNoon);
    ASSERT_TRUE(first && second && third);
    const std::string base = ImageFileSaver::baseName(kNoon);
    EXPECT_EQ(first.value(), base + ".jpeg");
    EXPECT_EQ(second.value(), base + " 2.jpeg");
    EXPECT_EQ(third.value(), base + ".img");
    EXPECT_EQ(contents(folder.path() / first.value()), "one");
    EXPECT_EQ(contents(folder.path() / second.value()), "two");
    EXPECT_EQ(base.substr(0, 9), "Kestrune ");
    EXPECT_EQ(base.size(), std::string("Kestrune 2026-03-01 09.30.05").size());
}

TEST(ImageFileSaver, GivesUpAfterNinetyNineNamesAndReportsUnwritableFolders) {
    TemporaryDirectory folder{"murrelo-images", "/tmp"};
    for (int i = 1; i <= ImageFileSaver::kMaxNameAttempts; ++i) {
        ASSERT_TRUE(ImageFileSaver::save("x", ImageFormat::png, folder.path(), kNoon));
    }
    const auto full = ImageFileSaver::save("x", ImageFormat::png, folder.path(), kNoon);
    ASSERT_FALSE(full);
    EXPECT_FALSE(full.error().reason.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 99);

    const auto unmakeable = ImageFileSaver::save("x", ImageFormat::png, "/proc/missing", kNoon);
    ASSERT_FALSE(unmakeable);
    EXPECT_EQ(unmakeable.error().reason.rfind("cannot create /proc/missing: ", 0), 0u)
        << unmakeable.error().reason;
}

// A fresh account has no Downloads folder yet: it is made, as a file manager would.
TEST(ImageFileSaver, AMissingFolderIsMadeFirst) {
    TemporaryDirectory home{"murrelo-images", "/tmp"};
    const auto saved = ImageFileSaver::save("one", ImageFormat::png, home / "Downloads", kNoon);
    ASSERT_TRUE(saved) << saved.error().reason;
    EXPECT_EQ(contents(home / "Downloads" / saved.value()), "one");
}

TEST(ImageFileSaver, DisplayPathShortensTheHomeFolder) {
    EXPECT_EQ(ImageFileSaver::displayPath("/home/ana", "/home/ana"), "~");
    EXPECT_EQ(ImageFileSaver::displayPath("/home/ana/Desktop", "/home/ana"), "~/Desktop");
    EXPECT_EQ(ImageFileSaver::displayPath("/home/anabel/Desktop", "/home/ana"),
              "/home/anabel/Desktop");
    EXPECT_EQ(ImageFileSaver::displayPath("/srv/pictures", "/home/ana"), "/srv/pictures");
}

TEST(ImageFileSaver, DownloadsFollowsTheUserDirectoriesFile) {
    TemporaryDirectory home{"murrelo-images", "/tmp"};
    const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    const char* oldConfig = getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home.path() / ".config").c_str(), 1);

    EXPECT_EQ(ImageFileSaver::downloads(), home.path() / "Downloads");
    fs::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config/user-dirs.dirs")
        << "# comment\nXDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n";
    EXPECT_EQ(ImageFileSaver::downloads(), home.path() / "Téléchargements");

    setenv("HOME", oldHome.c_str(), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(ImageSaveLocation, ModeAndStoredFolderFallBackToTheirDefaults) {
    using ImageSaveLocation::Mode;
    EXPECT_EQ(ImageSaveLocation::mode(std::string("frontFinderWindow")),
              Mode::frontFileManagerWindow);
    EXPECT_EQ(ImageSaveLocation::mode(std::string("fixed")), Mode::fixed);
    EXPECT_EQ(ImageSaveLocation::mode(std::string("FrontFinderWindow")), Mode::fixed);
    EXPECT_EQ(ImageSaveLocation::mode(std::nullopt), Mode::fixed);
    EXPECT_EQ(ImageSaveLocation::storedFolder(std::string("")), ImageFileSaver::downloads());
    EXPECT_EQ(ImageSaveLocation::storedFolder(std::string("/srv/x")), fs::path("/srv/x"));
}

TEST(ImageSaveLocation, ResolveAsksOnlyInFrontWindowModeAndFallsBackOnAnyOtherAnswer) {
    TemporaryDirectory settingsFolder{"murrelo-images", "/tmp"};
    TemporaryDirectory desktop{"murrelo-images", "/tmp"};
    int asked = 0;
    auto answering = [&](Answer answer) {
        return [&asked, answer] {
            ++asked;
            return answer;
        };
    };
    const ImageSaveLocation::Preferences fixed{std::string("fixed"),
                                               settingsFolder.path().string()};
    EXPECT_EQ(ImageSaveLocation::resolve(fixed, answering(Answer::makeFolder(desktop.path()))),
              (ImageSaveLocation::Resolution{settingsFolder.path(), false}));
    EXPECT_EQ(asked, 0);

    const ImageSaveLocation::Preferences front{std::string("frontFinderWindow"),
                                               settingsFolder.path().string()};
    EXPECT_EQ(ImageSaveLocation::resolve(front, answering(Answer::makeFolder(desktop.path()))),
              (ImageSaveLocation::Resolution{desktop.path(), false}));
    EXPECT_EQ(ImageSaveLocation::resolve(front, answering(Answer::denied())),
              (ImageSaveLocation::Resolution{settingsFolder.path(), true}));
    EXPECT_EQ(ImageSaveLocation::resolve(front, answering(Answer::timedOut())),
              (ImageSaveLocation::Resolution{settingsFolder.path(), false}));
    EXPECT_EQ(ImageSaveLocation::resolve(front, answering(Answer::makeFolder("/no/such/folder"))),
              (ImageSaveLocation::Resolution{settingsFolder.path(), false}));
    EXPECT_EQ(asked, 4);

    // A settings folder that has gone away falls back to Downloads.
    const ImageSaveLocation::Preferences gone{std::string("fixed"), std::string("/no/such/folder")};
    EXPECT_EQ(ImageSaveLocation::resolve(gone, answering(Answer::none())).folder,
              ImageFileSaver::downloads());
}

TEST(ImageSaveLocation, UsableFolderMustBeAWritableDirectory) {
    TemporaryDirectory folder{"murrelo-images", "/tmp"};
    EXPECT_TRUE(ImageSaveLocation::isUsableFolder(folder.path()));
    std::ofstream(folder.path() / "file") << "x";
    EXPECT_FALSE(ImageSaveLocation::isUsableFolder(folder.path() / "file"));
    EXPECT_FALSE(ImageSaveLocation::isUsableFolder(folder.path() / "missing"));
    if (geteuid() != 0) {  // root may write anywhere
        chmod(folder.path().c_str(), 0500);
        EXPECT_FALSE(ImageSaveLocation::isUsableFolder(folder.path()));
        chmod(folder.path().c_str(), 0700);
    }
}

}  // namespace
}  // namespace kestrune
