#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Crypto.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryDirectory;
using namespace std::chrono_literals;

const Date kStart = Date(std::chrono::seconds(1'800'000'000));

bool isLowerHex(const std::string& text, std::size_t length) {
    return text.size() == length && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const fs::path& path) {
    return readWholeFile(path).value_or("<missing>");
}

class PairedDeviceStoreTest : public ::testing::Test {
  protected:
    // Makes every later write fail: the file's place is taken by a folder that is not empty.
    void blockWrites() {
        fs::remove(path);
        fs::create_directories(path / "occupied");
    }

    TemporaryDirectory dir{"paired-devices"};
    fs::path path = dir / "Remote" / "devices.json";
};

TEST_F(PairedDeviceStoreTest, RegisteringMakesDistinctDevicesAndKeepsOnlySecretHashes) {
    PairedDeviceStore store(path);
    const auto first = store.registerDevice("Pixel", kStart);
    const auto second = store.registerDevice("Pixel", kStart + 5s);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());

    EXPECT_NE(first->device.id, second->device.id);
    EXPECT_NE(first->secret, second->secret);
    for (const auto* registration : {&first.value(), &second.value()}) {
        EXPECT_TRUE(isLowerHex(registration->secret, 64)) << registration->secret;
        EXPECT_TRUE(isLowerHex(registration->device.secretHash, 64));
        // The hash is taken over the secret's 64 characters, not over the raw random bytes.
        EXPECT_EQ(registration->device.secretHash, sha256Hex(registration->secret));
        EXPECT_EQ(registration->device.pairedAt, registration->device.lastConnectedAt);
        EXPECT_EQ(registration->device.name, "Pixel");
    }
    EXPECT_EQ(second->device.pairedAt, kStart + 5s);
    EXPECT_EQ(store.devices(), (std::vector{first->device, second->device}));
    EXPECT_TRUE(store.contains(first->device.id));

    const std::string file = readText(path);
    EXPECT_EQ(file.find(first->secret), std::string::npos);
    EXPECT_EQ(file.find(second->secret), std::string::npos);
}

TEST_F(PairedDeviceStoreTest, FileIsOwnerOnlyAndReplacedWhole) {
    fs::create_directories(path.parent_path());
    writeText(path, "[]");
    ::chmod(path.c_str(), 0644);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    std::ifstream oldReader(path);

    PairedDeviceStore store(path);
    ASSERT_TRUE(store.registerDevice("Pixel", kStart).ok());

    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    // A new file took the old one's name: a reader of the old file still sees it complete.
    EXPECT_NE(after.st_ino, before.st_ino);
    std::string oldText((std::istreambuf_iterator<char>(oldReader)), {});
    EXPECT_EQ(oldText, "[]");
    // No temporary file is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"devices.json"});
}

TEST_F(PairedDeviceStoreTest, FileFormatIsPrettySortedWithUpperCaseIdsAndSecondsDates) {
    const PairedDevice device{*Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"),
                              "Anna \"P\" \xE2\x9C\x93", std::string(64, 'e'),
                              Date(std::chrono::milliseconds(1'800'000'000'250)),
                              Date(std::chrono::milliseconds(1'800'000'100'500))};
    const std::string expected = R"([
  {
    "id" : "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D",
    "lastConnectedAt" : 1800000100.5,
    "name" : "Anna \"P\" )"
                                 "\xE2\x9C\x93"
                                 R"(",
    "pairedAt" : 1800000000.25,
    "secretHash" : "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee"
  }
])";
    EXPECT_EQ(encodePairedDevices({device}), expected);
    EXPECT_EQ(decodePairedDevices(expected), std::vector{device});
    EXPECT_EQ(encodePairedDevices({}), "[]");
}

TEST_F(PairedDeviceStoreTest, ListSurvivesARestart) {
    Uuid id;
    {
        PairedDeviceStore store(path);
        id = store.registerDevice("Pixel", kStart + 123456789us).value().device.id;
        ASSERT_TRUE(store.registerDevice("iPad", kStart).ok());
    }
    PairedDeviceStore reloaded(path);
    const auto devices = reloaded.devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, id);
    EXPECT_EQ(devices[0].name, "Pixel");
    EXPECT_EQ(devices[1].name, "iPad");
    // Seconds with a fraction keep at least microseconds.
    EXPECT_LE(std::chrono::abs(devices[0].pairedAt - (kStart + 123456789us)), 1us);
}

// The files beside the devices file that a start kept aside.
std::vector<fs::path> keptAside(const fs::path& file) {
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(file.parent_path())) {
        if (isKeptAside(entry.path().filename().string())) kept.push_back(entry.path());
    }
    return kept;
}

// A file that is not a list at all is moved aside whole, reported, and the list starts empty;
// the next pairing writes a fresh file.
TEST_F(PairedDeviceStoreTest, AnUnusableFileIsKeptAsideAndReported) {
    const std::string good =
        R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","name":"A","secretHash":"x",)"
        R"("pairedAt":1,"lastConnectedAt":2})";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"not JSON", "devices"},
        {"truncated", "[" + good.substr(0, 40)},
        {"object at top level", good},
    };
    for (const auto& [label, text] : cases) {
        SCOPED_TRACE(label);
        fs::remove_all(path.parent_path());
        fs::create_directories(path.parent_path());
        writeText(path, text);
        std::vector<StoreProblem> problems;
        PairedDeviceStore store(path, [&](const StoreProblem& p) { problems.push_back(p); });
        EXPECT_TRUE(store.devices().empty());
        ASSERT_EQ(keptAside(path).size(), 1u);
        EXPECT_EQ(readText(keptAside(path)[0]), text);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_THAT(problems[0].message, ::testing::HasSubstr(keptAside(path)[0].string()));
        const auto registration = store.registerDevice("New", kStart);
        ASSERT_TRUE(registration.ok());
        EXPECT_EQ(decodePairedDevices(readText(path)), std::vector{registration->device});
    }

    // A folder in the file's place is named, and moved aside like a damaged file.
    fs::remove_all(path.parent_path());
    fs::create_directories(path / "occupied");
    std::vector<StoreProblem> problems;
    PairedDeviceStore store(path, [&](const StoreProblem& p) { problems.push_back(p); });
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0].message, ::testing::HasSubstr(path.string() + " is a folder"));
    EXPECT_TRUE(store.registerDevice("New", kStart).ok());
}

// Each entry that does not decode is skipped, naming it; the others stay paired, and the file as
// it was is kept aside before the next save rewrites it without the damaged entry.
TEST_F(PairedDeviceStoreTest, ADamagedEntryCostsOnlyItself) {
    const auto entry = [](char last, const std::string& fields) {
        return R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4)" + std::string(1, last) +
               R"(","name":"A","secretHash":"x",)" + fields + "}";
    };
    const std::string complete = R"("pairedAt":1,"lastConnectedAt":2)";
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"element not an object", "1"},
        {"missing lastConnectedAt", entry('E', R"("pairedAt":1)")},
        {"id not a UUID", R"({"id":"phone","name":"A","secretHash":"x",)" + complete + "}"},
        {"date as text", entry('E', R"("pairedAt":"2026-01-01","lastConnectedAt":2)")},
        {"date beyond any clock", entry('E', R"("pairedAt":1e300,"lastConnectedAt":2)")},
        {"name not a string", R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4E","name":5,)"
                              R"("secretHash":"x",)" +
                                  complete + "}"},
    };
    for (const auto& [label, bad] : damaged) {
        SCOPED_TRACE(label);
        fs::remove_all(path.parent_path());
        fs::create_directories(path.parent_path());
        const std::string text =
            "[" + entry('D', complete) + "," + bad + "," + entry('F', complete) + "]";
        writeText(path, text);
        std::vector<StoreProblem> problems;
        PairedDeviceStore store(path, [&](const StoreProblem& p) { problems.push_back(p); });
        ASSERT_EQ(store.devices().size(), 2u);
        EXPECT_EQ(store.devices()[1].id.uuidString(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4F");
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_THAT(problems[0].message, ::testing::HasSubstr("entry 2"));
        ASSERT_EQ(keptAside(path).size(), 1u);
        EXPECT_EQ(readText(keptAside(path)[0]), text);
        // The file now holds the sound entries, so the next start has nothing to report.
        EXPECT_EQ(decodePairedDevices(readText(path)), store.devices());
        problems.clear();
        EXPECT_EQ(PairedDeviceStore(path, [&](const StoreProblem& p) { problems.push_back(p); })
                      .devices()
                      .size(),
                  2u);
        EXPECT_TRUE(problems.empty());
        ASSERT_TRUE(store.registerDevice("New", kStart).ok());
        EXPECT_EQ(decodePairedDevices(readText(path))->size(), 3u);
    }

    // The same element with all five keys (and one more) loads.
    writeText(path, "[" + entry('D', complete + R"(,"extra":true)") + "]");
    EXPECT_EQ(PairedDeviceStore(path).devices().size(), 1u);
}

// The mark of a phone that must pair again is stored only when set: files without it, as earlier
// versions wrote them, read as unmarked, and unmarked devices are written as before.
TEST_F(PairedDeviceStoreTest, TheNewPairingMarkIsAnOptionalFieldThatSurvivesARestart) {
    PairedDeviceStore store(path);
    ASSERT_TRUE(store.registerDevice("One", kStart).ok());
    EXPECT_EQ(readText(path).find("needsNewPairing"), std::string::npos);
    EXPECT_TRUE(store.markAllNeedingNewPairing().ok());
    const auto second = store.registerDevice("Two", kStart).value();
    const auto reloaded = PairedDeviceStore(path).devices();
    ASSERT_EQ(reloaded.size(), 2u);
    EXPECT_TRUE(reloaded[0].needsNewPairing);
    EXPECT_FALSE(reloaded[1].needsNewPairing);
    EXPECT_EQ(reloaded[1], second.device);
    EXPECT_NE(readText(path).find(R"("needsNewPairing" : true)"), std::string::npos);

    // A mark that is not a boolean makes the entry a damaged one.
    writeText(path, R"([{"id":"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D","name":"A","secretHash":"x",)"
                    R"("pairedAt":1,"lastConnectedAt":2,"needsNewPairing":"yes"}])");
    EXPECT_FALSE(decodePairedDevices(readText(path)));
}

TEST_F(PairedDeviceStoreTest, MissingFileAndFolderAreCreatedAtTheFirstSave) {
    path = dir / "a" / "b" / "devices.json";
    PairedDeviceStore store(path);
    EXPECT_TRUE(store.devices().empty());
    EXPECT_FALSE(fs::exists(path));
    ASSERT_TRUE(store.registerDevice("Pixel", kStart).ok());
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(PairedDeviceStoreTest, AuthenticateMatchesTheExactSecretAndRecordsTheTime) {
    PairedDeviceStore store(path);
    const auto registration = store.registerDevice("Pixel", kStart).value();
    int changes = 0;
    store.setOnChange([&] { ++changes; });

    std::string upper = registration.secret;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& wrong :
         {upper, registration.device.secretHash, std::string(), registration.secret.substr(1)}) {
        EXPECT_FALSE(store.authenticate(wrong, kStart + 1h)) << wrong;
    }
    EXPECT_EQ(changes, 0);

    const auto device = store.authenticate(registration.secret, kStart + 2h);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->id, registration.device.id);
    EXPECT_EQ(device->lastConnectedAt, kStart + 2h);
    EXPECT_EQ(device->pairedAt, kStart);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(PairedDeviceStore(path).devices().at(0).lastConnectedAt, kStart + 2h);
}

TEST_F(PairedDeviceStoreTest, FailedSavesChangeNothingExceptTheConnectionTime) {
    PairedDeviceStore store(path);
    const auto registration = store.registerDevice("Pixel", kStart).value();
    int changes = 0;
    int removals = 0;
    store.setOnChange([&] { ++changes; });
    store.setOnRemove([&](const Uuid&) { ++removals; });
    blockWrites();

    const auto refused = store.registerDevice("Other", kStart);
    ASSERT_FALSE(refused.ok());
    EXPECT_FALSE(refused.error().message.empty());
    EXPECT_FALSE(store.remove(registration.device.id));
    EXPECT_EQ(store.devices(), std::vector{registration.device});
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(removals, 0);

    // Authentication still works and the new time is kept in memory, but nobody is told. The
    // failed save is logged after the lock is released: the log's sink may look at the store.
    std::vector<std::size_t> countsSeenByTheLog;
    setLogSink([&](LogLevel, std::string_view, std::string_view) {
        countsSeenByTheLog.push_back(store.devices().size());
    });
    const auto device = store.authenticate(registration.secret, kStart + 1h);
    setLogSink(nullptr);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->lastConnectedAt, kStart + 1h);
    EXPECT_EQ(store.devices().at(0).lastConnectedAt, kStart + 1h);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(countsSeenByTheLog, std::vector<std::size_t>{1});
}

TEST_F(PairedDeviceStoreTest, RemoveSavesThenTellsRemovalBeforeChange) {
    PairedDeviceStore store(path);
    const auto kept = store.registerDevice("Kept", kStart).value().device;
    const auto gone = store.registerDevice("Gone", kStart).value().device;
    std::vector<std::string> calls;
    store.setOnRemove([&](const Uuid& id) { calls.push_back("remove " + id.uuidString()); });
    store.setOnChange([&] { calls.push_back("change"); });

    EXPECT_TRUE(store.remove(gone.id));
    EXPECT_EQ(store.devices(), std::vector{kept});
    EXPECT_EQ(decodePairedDevices(readText(path)), std::vector{kept});
    EXPECT_EQ(calls, (std::vector<std::string>{"remove " + gone.id.uuidString(), "change"}));

    // An unknown id still saves and still tells both.
    calls.clear();
    fs::remove(path);
    const Uuid unknown = *Uuid::random();
    EXPECT_TRUE(store.remove(unknown));
    EXPECT_EQ(decodePairedDevices(readText(path)), std::vector{kept});
    EXPECT_EQ(calls, (std::vector<std::string>{"remove " + unknown.uuidString(), "change"}));
}

TEST_F(PairedDeviceStoreTest, CallbacksRunOutsideTheLockOnTheChangingThread) {
    PairedDeviceStore store(path);
    std::vector<std::size_t> seenCounts;
    std::vector<std::thread::id> threads;
    store.setOnChange([&] {
        // Calling back into the store would deadlock if the lock were still held.
        seenCounts.push_back(store.devices().size());
        threads.push_back(std::this_thread::get_id());
    });
    bool containedDuringRemove = true;
    store.setOnRemove([&](const Uuid& id) {
        containedDuringRemove = store.contains(id);
        store.setOnRemove(nullptr);
    });

    const auto registration = store.registerDevice("Pixel", kStart).value();
    ASSERT_TRUE(store.authenticate(registration.secret, kStart + 1s));
    ASSERT_TRUE(store.remove(registration.device.id));

    EXPECT_EQ(seenCounts, (std::vector<std::size_t>{1, 1, 0}));
    EXPECT_FALSE(containedDuringRemove);
    EXPECT_THAT(threads, ::testing::Each(std::this_thread::get_id()));
}

TEST_F(PairedDeviceStoreTest, ConcurrentChangesFromTwoThreadsLoseNothing) {
    constexpr int kRegistrations = 25;
    PairedDeviceStore store(path);
    const auto veteran = store.registerDevice("Veteran", kStart).value();
    const auto leaving = store.registerDevice("Leaving", kStart).value();
    std::atomic<int> changes{0};
    store.setOnChange([&] { ++changes; });

    std::thread server([&] {
        for (int i = 0; i < kRegistrations; ++i) {
            ASSERT_TRUE(store.registerDevice("Phone " + std::to_string(i), kStart).ok());
        }
    });
    std::thread settings([&] {
        for (int i = 0; i < kRegistrations; ++i) {
            ASSERT_TRUE(store.authenticate(veteran.secret, kStart + std::chrono::seconds(i)));
            EXPECT_GE(store.devices().size(), 1u);
        }
        ASSERT_TRUE(store.remove(leaving.device.id));
    });
    server.join();
    settings.join();

    const auto devices = store.devices();
    EXPECT_EQ(devices.size(), static_cast<std::size_t>(kRegistrations + 1));
    EXPECT_FALSE(store.contains(leaving.device.id));
    EXPECT_EQ(devices.front().lastConnectedAt, kStart + std::chrono::seconds(kRegistrations - 1));
    EXPECT_EQ(changes.load(), 2 * kRegistrations + 1);
    // The file holds the same list as memory: no write was based on a stale copy.
    EXPECT_EQ(decodePairedDevices(readText(path)), devices);
}

}  // namespace
}  // namespace kestrune
