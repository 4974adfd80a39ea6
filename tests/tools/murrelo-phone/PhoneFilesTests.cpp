#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "PhonePairing.hpp"
#include "SecretInput.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::phone {
namespace {

namespace fs = std::filesystem;

using testing::TemporaryDirectory;

TEST(PhonePairingFile, RoundTripsOwnerOnlyAndRefusesDamage) {
    TemporaryDirectory folder{"murrelo-phone"};
    const auto file = folder.path() / "murrelo-phone" / "pairing.json";
    ASSERT_TRUE(PhonePairing::load(file).ok());
    EXPECT_FALSE(PhonePairing::load(file).value());

    const PhonePairing pairing{"192.168.1.20", 52000, std::string(64, 'c'), "s3cr\"et\n",
                               "Pixel \xE2\x9C\x93"};
    ASSERT_TRUE(pairing.save(file));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(PhonePairing::load(file).value(), pairing);

    for (const char* damaged : {"", "[]", "{\"host\":\"h\"}",
                                "{\"host\":\"h\",\"port\":70000,\"fingerprint\":\"f\","
                                "\"secret\":\"s\",\"deviceName\":\"d\"}"}) {
        ASSERT_TRUE(writeFileAtomically(file, damaged));
        EXPECT_FALSE(PhonePairing::load(file).ok()) << damaged;
    }
}

TEST(PhonePairingFile, FollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(PhonePairing::defaultPath(), fs::path("/tmp/xdg-test/murrelo-phone/pairing.json"));
    ::setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    EXPECT_EQ(PhonePairing::defaultPath().parent_path().parent_path().filename(), ".config");
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(SecretInput, ReadsAllOfRedirectedInputLessOneLineBreak) {
    TemporaryDirectory folder{"murrelo-phone"};
    auto viaPipe = [&](const std::string& input) {
        const auto file = folder.path() / "input";
        EXPECT_TRUE(writeFileAtomically(file, input));
        const int fd = ::open(file.c_str(), O_RDONLY);
        auto secret = readSecret(fd);
        ::close(fd);
        return secret;
    };
    EXPECT_EQ(viaPipe("pass word\n"), "pass word");
    EXPECT_EQ(viaPipe("windows\r\n"), "windows");
    EXPECT_EQ(viaPipe("two\nlines\n"), "two\nlines");
    EXPECT_EQ(viaPipe(""), "");
    EXPECT_EQ(viaPipe(std::string(kMaxSecretInputBytes + 1, 'x')), std::nullopt);
}

}  // namespace
}  // namespace kestrune::phone
