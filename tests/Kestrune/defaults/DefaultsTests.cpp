#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <fstream>
#include <iterator>

#include "Kestrune/defaults/DefaultsFile.hpp"
#include "Kestrune/defaults/UserDefaults.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using testing::TemporaryDirectory;

TEST(DefaultsFile, KeepsTheFourKindsAndSkipsEverythingElse) {
    const auto decoded = decodeDefaultsFile(R"({
        "flag": true, "count": -42, "name": "zh-CN", "list": ["a", "b"],
        "fraction": 1.5, "nothing": null, "nested": {"a": 1}, "mixed": ["a", 1],
        "huge": 18446744073709551615
    })");
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    const auto& values = decoded.value().values;
    EXPECT_EQ(values.at("flag"), DefaultsValue(true));
    EXPECT_EQ(values.at("count"), DefaultsValue(std::int64_t{-42}));
    EXPECT_EQ(values.at("name"), DefaultsValue(std::string("zh-CN")));
    EXPECT_EQ(values.at("list"), DefaultsValue(StringList{"a", "b"}));
    EXPECT_EQ(values.size(), 4u);
    auto skipped = decoded.value().skippedKeys;
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped,
              (std::vector<std::string>{"fraction", "huge", "mixed", "nested", "nothing"}));
}

TEST(DefaultsFile, RefusesWhatIsNotASettingsObject) {
    EXPECT_FALSE(decodeDefaultsFile("").ok());
    EXPECT_FALSE(decodeDefaultsFile("{\"a\": tru").ok());
    EXPECT_FALSE(decodeDefaultsFile("[1, 2]").ok());
    EXPECT_FALSE(decodeDefaultsFile("\"text\"").ok());
    EXPECT_FALSE(decodeDefaultsFile("{\"a\": \"\xff\"}").ok());
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    EXPECT_FALSE(decodeDefaultsFile("{\"a\": " + deep + "}").ok());
    const std::string oversized = "{\"a\": \"" + std::string(kMaxDefaultsFileBytes, 'x') + "\"}";
    EXPECT_FALSE(decodeDefaultsFile(oversized).ok());
}

TEST(DefaultsFile, EncodingRoundTripsEveryKindAndAwkwardText) {
    const DefaultsDictionary values = {
        {"b", true},
        {"i", std::int64_t{9'007'199'254'740'993}},
        {"s", std::string("quote \" backslash \\ newline \n 中文 \x01")},
        {"l", StringList{"", "x y"}},
        {"empty list", StringList{}},
        {"key with \"quotes\"", std::string()}};
    const auto decoded = decodeDefaultsFile(encodeDefaultsFile(values));
    ASSERT_TRUE(decoded.ok()) << decoded.error();
    EXPECT_EQ(decoded.value().values, values);
    EXPECT_TRUE(decoded.value().skippedKeys.empty());
    EXPECT_EQ(encodeDefaultsFile({}), "{}\n");
}

class UserDefaultsTest : public ::testing::Test {
  protected:
    std::unique_ptr<UserDefaults> open(const std::string& domain = "zz.test.domain") {
        return std::make_unique<UserDefaults>(dir.path(), domain);
    }
    TemporaryDirectory dir{"murrelo-settings"};
};

TEST_F(UserDefaultsTest, AValueOfAnotherKindReadsAsAbsentForThatKind) {
    auto defaults = open();
    defaults->set("text", "yes");  // text, never taken for a pointer turned bool
    defaults->set("flag", true);
    defaults->set("number", std::int64_t{1});
    defaults->set("list", StringList{"a"});

    EXPECT_EQ(defaults->boolean("text"), std::nullopt);
    EXPECT_EQ(defaults->integer("flag"), std::nullopt);
    EXPECT_EQ(defaults->string("number"), std::nullopt);
    EXPECT_EQ(defaults->stringList("text"), std::nullopt);
    EXPECT_EQ(defaults->boolean("flag"), true);
    EXPECT_EQ(defaults->integer("number"), 1);
    EXPECT_EQ(defaults->string("text"), "yes");
    EXPECT_EQ(defaults->stringList("list"), StringList{"a"});
    EXPECT_EQ(defaults->object("missing"), std::nullopt);
}

TEST_F(UserDefaultsTest, EveryChangeIsOnDiskOwnerOnlyAndReadBackByTheNextStart) {
    {
        auto defaults = open();
        defaults->set("language", std::string("ja-JP"));
        defaults->set("port", std::int64_t{8443});
        defaults->set("gone", true);
        defaults->remove("gone");
    }
    const auto file = dir / "zz.test.domain.json";
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    auto reopened = open();
    EXPECT_EQ(reopened->string("language"), "ja-JP");
    EXPECT_EQ(reopened->integer("port"), 8443);
    EXPECT_EQ(reopened->object("gone"), std::nullopt);
}

TEST_F(UserDefaultsTest, TheFileIsReadOnceAtStart) {
    auto defaults = open();
    ASSERT_TRUE(writeFileAtomically(dir / "zz.test.domain.json", R"({"late": true})"));
    EXPECT_EQ(defaults->boolean("late"), std::nullopt);
    EXPECT_EQ(open()->boolean("late"), true);
}

TEST_F(UserDefaultsTest, ADamagedFileLoadsWhatItCanAndNeverFails) {
    ASSERT_TRUE(writeFileAtomically(dir / "broken.json", "{\"a\": true,,,"));
    EXPECT_EQ(open("broken")->object("a"), std::nullopt);

    ASSERT_TRUE(writeFileAtomically(dir / "partly.json", R"({"a": true, "b": 2.5})"));
    auto partly = open("partly");
    EXPECT_EQ(partly->boolean("a"), true);
    EXPECT_EQ(partly->object("b"), std::nullopt);

    ASSERT_TRUE(
        writeFileAtomically(dir / "huge.json", std::string(kMaxDefaultsFileBytes + 1, ' ')));
    auto huge = open("huge");
    EXPECT_EQ(huge->persistentDomain("huge"), DefaultsDictionary{});
    // A later change replaces the damaged file with a sound one.
    huge->set("fresh", true);
    EXPECT_EQ(open("huge")->boolean("fresh"), true);
}

TEST_F(UserDefaultsTest, TextThatIsNotUtf8NeverCostsTheOtherSettings) {
    {
        auto defaults = open();
        defaults->set("language", std::string("ja-JP"));
        // A folder named in Latin-1, as an old file system may hold; and a broken list entry.
        defaults->set("folder", std::string("/home/caf\xe9"));
        defaults->set("list", StringList{"ok", "\xff\xfe"});
    }
    auto reopened = open();
    EXPECT_EQ(reopened->string("language"), "ja-JP");
    // Kept as text, the broken bytes replaced, so the file stays one that loads.
    EXPECT_EQ(reopened->string("folder"), "/home/caf\uFFFD");
    EXPECT_EQ(reopened->stringList("list"), (StringList{"ok", "\uFFFD\uFFFD"}));
}

TEST_F(UserDefaultsTest, AValueTooLargeForTheFileIsRefusedAndCostsNothingElse) {
    {
        auto defaults = open();
        defaults->set("language", std::string("ja-JP"));
        std::vector<std::string> seen;
        auto subscription = defaults->observe([&](const std::string& key) { seen.push_back(key); });
        defaults->set("huge", std::string(kMaxDefaultsFileBytes, 'x'));
        defaults->set("language", std::string(kMaxDefaultsFileBytes, 'y'));
        EXPECT_EQ(defaults->object("huge"), std::nullopt);
        EXPECT_EQ(defaults->string("language"), "ja-JP") << "the earlier value stays";
        EXPECT_TRUE(seen.empty()) << "nothing changed";
        defaults->set("after", true);
    }
    // A file the next start would refuse as a whole is never written.
    auto reopened = open();
    EXPECT_EQ(reopened->string("language"), "ja-JP");
    EXPECT_EQ(reopened->boolean("after"), true);
}

TEST_F(UserDefaultsTest, ObserversSeeEachChangeButNotAssignmentsOfTheSameValue) {
    auto defaults = open();
    std::vector<std::string> seen;
    auto subscription = defaults->observe([&](const std::string& key) { seen.push_back(key); });
    defaults->set("a", true);
    defaults->set("a", true);
    defaults->set("a", false);
    defaults->remove("a");
    defaults->remove("a");
    defaults->set("b", std::string("x"));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "a", "a", "b"}));

    subscription.reset();
    defaults->set("c", true);
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(UserDefaultsTest, PersistentDomainsReadAndReplaceWholeDomains) {
    auto defaults = open("own");
    EXPECT_EQ(defaults->persistentDomain("other"), std::nullopt);

    defaults->setPersistentDomain({{"x", true}, {"y", std::string("z")}}, "other");
    EXPECT_EQ(defaults->persistentDomain("other"),
              (DefaultsDictionary{{"x", true}, {"y", std::string("z")}}));
    EXPECT_EQ(defaults->object("x"), std::nullopt) << "another domain leaves this one alone";

    defaults->set("keep", true);
    defaults->set("drop", true);
    std::vector<std::string> seen;
    auto subscription = defaults->observe([&](const std::string& key) { seen.push_back(key); });
    defaults->setPersistentDomain({{"keep", true}, {"new", std::int64_t{3}}}, "own");
    EXPECT_EQ(seen, (std::vector<std::string>{"drop", "new"}));
    EXPECT_EQ(open("own")->persistentDomain("own"),
              (DefaultsDictionary{{"keep", true}, {"new", std::int64_t{3}}}));
}

std::string bytesOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The files beside `file` that an earlier start kept aside.
std::vector<std::filesystem::path> keptAside(const std::filesystem::path& file) {
    std::vector<std::filesystem::path> kept;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        const auto name = entry.path().filename().string();
        if (name.starts_with(file.filename().string()) && isKeptAside(name))
            kept.push_back(entry.path());
    }
    return kept;
}

// Each way a settings file cannot be read: it is kept byte for byte beside itself, owner-only,
// the user hears of it once naming both paths, and the settings run on from their defaults.
TEST_F(UserDefaultsTest, AnUnreadableFileIsKeptAsideReportedOnceAndNeverWrittenOver) {
    const auto file = dir / "zz.test.domain.json";
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"invalid JSON", R"({"triggerKey": "fn",,)"},
        {"a list", R"(["triggerKey"])"},
        {"oversize", "{\"a\": \"" + std::string(kMaxDefaultsFileBytes, 'x') + "\"}"},
    };
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(writeFileAtomically(file, bytes, 0644));
        std::vector<StoreProblem> problems;
        {
            UserDefaults defaults(dir.path(), "zz.test.domain", [&](const StoreProblem& problem) {
                problems.push_back(problem);
            });
            EXPECT_EQ(defaults.persistentDomain("zz.test.domain"), DefaultsDictionary{});
            defaults.set("fresh", true);
            defaults.set("again", true);
        }
        const auto kept = keptAside(file);
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(bytesOf(kept[0]), bytes);
        struct stat info {};
        ASSERT_EQ(::stat(kept[0].c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].message.find(file.string()), std::string::npos);
        EXPECT_NE(problems[0].message.find(kept[0].string()), std::string::npos);
        EXPECT_EQ(open()->boolean("fresh"), true);
        std::filesystem::remove(kept[0]);
    }
}

TEST_F(UserDefaultsTest, AFolderInTheFilesPlaceIsNamedAndMovedAside) {
    const auto file = dir / "zz.test.domain.json";
    std::filesystem::create_directory(file);
    std::vector<StoreProblem> problems;
    UserDefaults defaults(dir.path(), "zz.test.domain",
                          [&](const StoreProblem& problem) { problems.push_back(problem); });
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].message.find(file.string() + " is a folder"), std::string::npos);
    ASSERT_EQ(keptAside(file).size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(keptAside(file)[0]));
    defaults.set("fresh", true);
    EXPECT_EQ(open()->boolean("fresh"), true);
}

// Runs `body` in a child without the privileges that let root read and move anything; its exit
// status is the test's verdict (0: all held).
int runUnprivileged(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0 && (::setresgid(kNobody, kNobody, kNobody) != 0 ||
                                 ::setresuid(kNobody, kNobody, kNobody) != 0)) {
            ::_exit(100);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// Mode 000 in a folder the user may not change: the file can be neither read nor moved, so the
// settings are not saved for this run, and the user is told; the file is untouched.
TEST_F(UserDefaultsTest, AFileThatCannotBeMovedIsLeftAloneForTheRun) {
    const auto file = dir / "zz.test.domain.json";
    const std::string original = R"({"triggerKey": "rightOption"})";
    ASSERT_TRUE(writeFileAtomically(file, original, 0000));
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0555));
    const int verdict = runUnprivileged([&] {
        std::vector<StoreProblem> problems;
        UserDefaults defaults(dir.path(), "zz.test.domain",
                              [&](const StoreProblem& problem) { problems.push_back(problem); });
        defaults.set("fresh", true);
        if (problems.size() != 1) return 1;
        if (problems[0].message.find("could not be moved aside") == std::string::npos) return 2;
        return defaults.boolean("fresh") == true ? 0 : 3;
    });
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0700));
    EXPECT_EQ(verdict, 0);
    EXPECT_EQ(bytesOf(file), original);
    EXPECT_TRUE(keptAside(file).empty());
}

// A folder the settings cannot be written to: the first failure reaches the user with the path
// and the system's reason, later ones do not repeat it.
TEST_F(UserDefaultsTest, TheFirstFailedSaveIsReportedWithThePathAndTheReason) {
    const int verdict = runUnprivileged([&] {
        std::vector<StoreProblem> problems;
        UserDefaults defaults("/proc/murrelo-settings", "zz.test.domain",
                              [&](const StoreProblem& problem) { problems.push_back(problem); });
        defaults.set("a", true);
        defaults.set("b", true);
        if (problems.size() != 1) return 1;
        const auto& message = problems[0].message;
        if (message.find("/proc/murrelo-settings/zz.test.domain.json") == std::string::npos)
            return 2;
        return message.find("cannot create") != std::string::npos ? 0 : 3;
    });
    EXPECT_EQ(verdict, 0);
}

// A writer killed at an arbitrary moment leaves the previous or the next file, whole.
TEST_F(UserDefaultsTest, KillingAWriterLeavesTheOldOrTheNewFile) {
    // Large enough that a write takes a while; each write's value is told apart by its letter.
    const auto valueOfWrite = [](int i) { return std::string(300'000, char('a' + i % 26)); };
    for (int round = 0; round < 12; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            UserDefaults defaults(dir.path(), "zz.test.domain");
            for (int i = 0;; ++i) {
                defaults.set("big", valueOfWrite(i));
                const char tick = 1;
                if (::write(ready[1], &tick, 1) != 1) ::_exit(1);
            }
        }
        ::close(ready[1]);
        // Writes 0 to `round` are done; the kill lands in or after the next one.
        char tick;
        for (int i = 0; i <= round; ++i) ASSERT_EQ(::read(ready[0], &tick, 1), 1);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(ready[0]);

        // On a busy machine the writer may finish a few more writes before the kill lands, so
        // any one write will do, as long as it is whole.
        const auto value = open()->string("big");
        ASSERT_TRUE(value && !value->empty()) << "round " << round;
        const auto whole = valueOfWrite(static_cast<unsigned char>(value->front()) - 'a');
        ASSERT_TRUE(*value == whole) << "round " << round << ": " << value->size() << " bytes";
    }
}

}  // namespace
}  // namespace kestrune
