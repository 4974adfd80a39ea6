#pragma once

#include <sys/stat.h>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::testing {

namespace fs = std::filesystem;

inline Uuid device(const char* text) {
    return Uuid::parse(text).value();
}
inline const Uuid kPhoneA = device("11111111-1111-4111-8111-111111111111");
inline const Uuid kPhoneB = device("22222222-2222-4222-8222-222222222222");

inline std::set<std::string> fileNames(const fs::path& directory) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator entry(directory, ec), end; !ec && entry != end;
         entry.increment(ec)) {
        names.insert(entry->path().filename().string());
    }
    return names;
}

inline mode_t permissionBits(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// An outbox in a fresh folder whose clock and timers run on virtual time.
class OutboxTest : public ::testing::Test {
  protected:
    fs::path dir() const { return folder.path() / "outbox"; }

    std::shared_ptr<Outbox> open() {
        auto outbox = Outbox::create(dir(), queue, [this] { return now; });
        outbox->setOnChange([this] { ++changes; });
        return outbox;
    }

    // Moves the clock and runs the timers that fall due.
    void passTime(Duration by) {
        now += std::chrono::duration_cast<Date::duration>(by);
        queue.advance(by);
    }

    Outbox::Item enqueue(Outbox& outbox, Outbox::Content content,
                         std::vector<Uuid> devices = {kPhoneA}) {
        auto item = outbox.enqueue(std::move(content), devices);
        EXPECT_TRUE(item.ok());
        return item.ok() ? item.value() : Outbox::Item{};
    }

    TemporaryDirectory folder{"outbox"};
    ManualMainQueue queue;
    Date now = queue.wallNow();
    int changes = 0;
};

}  // namespace kestrune::testing
