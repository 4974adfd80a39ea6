#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "PhoneInput.hpp"
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

TEST(PhonePairingFile, OpenToOthersOrNotAFileIsAnErrorNamingItNeverNotPaired) {
    TemporaryDirectory folder{"murrelo-phone"};
    const auto file = folder.path() / "it's here" / "pairing.json";
    const PhonePairing pairing{"10.0.0.2", 52000, std::string(64, 'a'), "secret", "Phone"};
    ASSERT_TRUE(pairing.save(file));
    ::chmod(file.c_str(), 0640);
    const auto shared = PhonePairing::load(file);
    ASSERT_FALSE(shared.ok());
    EXPECT_NE(shared.error().find("permissions 0640"), std::string::npos) << shared.error();
    // Quoted for the shell, apostrophe and all, so the command can be pasted as it stands.
    EXPECT_NE(shared.error().find("chmod 600 '" + folder.path().string() +
                                  "/it'\\''s here/pairing.json'"),
              std::string::npos)
        << shared.error();
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(PhonePairing::load(file).value(), pairing);

    fs::remove(file);
    fs::create_directory(file);
    const auto directory = PhonePairing::load(file);
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error(), "the pairing file " + file.string() + " is a folder, not a file");
    EXPECT_TRUE(PhonePairing::checkWritable(file).has_value());
}

TEST(PhonePairingFile, WritabilityIsCheckedWithoutLeavingAnythingBehind) {
    TemporaryDirectory folder{"murrelo-phone"};
    const auto file = folder.path() / "new" / "murrelo-phone" / "pairing.json";
    EXPECT_EQ(PhonePairing::checkWritable(file), std::nullopt);
    struct stat info {};
    ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::is_empty(file.parent_path()));
    EXPECT_FALSE(PhonePairing::load(file).value());

    const auto blocked = folder.path() / "a-file" / "pairing.json";
    ASSERT_TRUE(writeFileAtomically(folder.path() / "a-file", "in the way"));
    const auto error = PhonePairing::checkWritable(blocked);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("a-file"), std::string::npos) << *error;
}

TEST(PhoneInput, EmptyAndOverlongInputIsRefusedAtTheComputersMessageLimit) {
    EXPECT_EQ(checkText(""), "there is nothing to type: the text is empty");
    EXPECT_EQ(checkSecret("", true), "the password is empty; nothing was sent");

    // The message {"v":1,"type":"text","payload":"..."} around the text: 34 bytes.
    const std::size_t envelope = RemoteMessage(RemoteMessage::Text{""}).encoded().value().size();
    const std::string largest(kMaxComputerMessageBytes - envelope, 'a');
    EXPECT_EQ(checkText(largest), std::nullopt);
    EXPECT_EQ(checkText(largest + "a"),
              "the text is too long: as a message it takes 262,145 bytes, and the computer accepts "
              "at most 262,144");
    // Measured after escaping: a control character takes six bytes on the wire.
    const std::string controls(kMaxComputerMessageBytes / 6, '\x01');
    ASSERT_LT(controls.size() + envelope, kMaxComputerMessageBytes);
    EXPECT_NE(checkText(controls), std::nullopt);
    EXPECT_NE(checkSecret(controls, false), std::nullopt);
    EXPECT_EQ(checkSecret("correct horse", true), std::nullopt);
}

TEST(PhoneInput, KeyNamesInAnyCaseGiveTheWireKey) {
    EXPECT_EQ(keyFromName("RETURN"), RemoteKey::returnKey);
    EXPECT_EQ(keyFromName("return"), RemoteKey::returnKey);
    EXPECT_EQ(keyFromName("Tab"), RemoteKey::tab);
    EXPECT_EQ(rawValue(*keyFromName("tAB")), "TAB");
    EXPECT_EQ(keyFromName("ESCAPE"), std::nullopt);
    EXPECT_EQ(keyFromName("TA"), std::nullopt);
    EXPECT_EQ(keyFromName(""), std::nullopt);
}

}  // namespace
}  // namespace kestrune::phone
