#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/qt/DesktopNotifier.hpp"
#include "tests/support/ChildProcess.hpp"
#include "tests/support/QtEventPump.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::DesktopStandIn;
using testing::TemporaryDirectory;

// A notification server answers in milliseconds; a sanitizer build on a busy machine gets far more.
constexpr auto kLimit = 30s;

template <typename Predicate>
bool pumpUntil(Predicate done, std::chrono::milliseconds limit = kLimit) {
    return testing::pumpEventsUntil(std::move(done), limit);
}

class Notifier : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs a session bus: run under scripts/with-test-services";
        }
        static int argc = 1;
        static char name[] = "desktop-notifier-tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
        notifier_ = std::make_unique<DesktopNotifier>(DesktopNotifier::Options{
            "Murrelo", "audio-input-microphone",
            [this](const std::string& text) { unavailable_.push_back(text); }});
    }

    TemporaryDirectory folder_{"desktop-notifier"};
    std::vector<std::string> unavailable_;
    std::unique_ptr<DesktopNotifier> notifier_;
};

TEST_F(Notifier, TextsShownBeforeTheFirstAnswerStillReplaceOneNotification) {
    DesktopStandIn server(folder_.path(), {"notifications"});
    ASSERT_TRUE(server.ready()) << server.output();
    const auto calls = [&] {
        std::vector<std::string> lines;
        for (const auto& [time, line] : server.lines("")) lines.push_back(line);
        return lines;
    };
    // Three texts in a row: the second waits for the first's id, and the third replaces the
    // second while it waits, so the server sees the first and the last.
    notifier_->show("one", 4000ms);
    notifier_->show("two", 4000ms);
    notifier_->show("three", 4000ms);
    ASSERT_TRUE(pumpUntil([&] { return server.lines("notify").size() == 2; })) << server.output();
    notifier_->close();
    ASSERT_TRUE(pumpUntil([&] { return !server.lines("close").empty(); })) << server.output();
    EXPECT_EQ(calls(), (std::vector<std::string>{"notify 1 0 4000 Murrelo|one",
                                                 "notify 1 1 4000 Murrelo|three", "close 1"}));

    // After a close, a text is a notification of its own; one still waiting when a close comes is
    // never shown, and the close follows the call in flight.
    notifier_->show("four", 4000ms);
    notifier_->show("never shown", 4000ms);
    notifier_->close();
    ASSERT_TRUE(pumpUntil([&] { return server.lines("close").size() == 2; })) << server.output();
    EXPECT_EQ(calls(), (std::vector<std::string>{"notify 1 0 4000 Murrelo|one",
                                                 "notify 1 1 4000 Murrelo|three", "close 1",
                                                 "notify 2 0 4000 Murrelo|four", "close 2"}));
    EXPECT_TRUE(unavailable_.empty());
}

TEST_F(Notifier, WithoutAServerEachTextIsHandedBack) {
    notifier_->show("Sent to your phone", 4000ms);
    ASSERT_TRUE(pumpUntil([&] { return !unavailable_.empty(); })) << "no answer within the limit";
    EXPECT_EQ(unavailable_, std::vector<std::string>{"Sent to your phone"});
    // Nothing is left to close, and a later server is used at once.
    notifier_->close();
    DesktopStandIn server(folder_.path(), {"notifications"});
    ASSERT_TRUE(server.ready()) << server.output();
    notifier_->show("again", 4000ms);
    ASSERT_TRUE(pumpUntil([&] { return !server.lines("notify").empty(); })) << server.output();
    EXPECT_EQ(server.lines("notify")[0].second, "notify 1 0 4000 Murrelo|again");
    EXPECT_EQ(unavailable_.size(), 1u);
}

}  // namespace
}  // namespace kestrune
