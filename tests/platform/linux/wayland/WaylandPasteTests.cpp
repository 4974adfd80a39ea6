#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "WaylandSession.hpp"
#include "platform/linux/wayland/DataControlClipboard.hpp"
#include "platform/linux/wayland/WaylandDirectTyping.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::ReceiverProcess;

constexpr auto arrivalLimit = 30s;

// What the user had copied: two types, neither of them ASCII only.
PasteboardSnapshot usersClipboard() {
    auto bytes = [](std::string_view text) {
        return std::vector<std::uint8_t>(text.begin(), text.end());
    };
    return {{{{"text/plain;charset=utf-8", "", 8, bytes("Grüße aus 東京 ✓")},
              {"text/html", "", 8, bytes("<b>Grüße</b> aus <i>東京</i>")}}}};
}

// The types and texts of the first item, for failure messages.
std::string described(const PasteboardSnapshot& snapshot) {
    std::string text;
    for (const auto& item : snapshot.items) {
        for (const auto& representation : item) {
            text += representation.type + "=" +
                    std::string(representation.data.begin(), representation.data.end()) + "; ";
        }
    }
    return text;
}

template <typename Value, typename Start>
Value await(Start start) {
    std::promise<Value> result;
    start([&result](Value value) { result.set_value(std::move(value)); });
    return result.get_future().get();
}

// Runs `step` on `queue` and waits for it.
void onQueue(SerialQueue& queue, std::function<void()> step) {
    await<bool>([&](auto done) {
        queue.post([&, done] {
            step();
            done(true);
        });
    });
}

// Pasting as the application does on wlroots: the clipboard through data control, the paste
// keys through the virtual keyboard on the typing queue, the paste sequence on the main queue,
// where the clipboards are also made and destroyed.
class WaylandPaste : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (testing::sway == nullptr) GTEST_SKIP() << "needs a headless sway";
        receiver_ = testing::startReceiver(GetParam());
        ASSERT_TRUE(receiver_) << "the receiver did not start";
        ASSERT_TRUE(receiver_->waitUntilFocused(testing::focusLimit));
        onQueue(*main_, [this] {
            user_ = std::make_unique<DataControlClipboard>(*main_);
            clipboard_ = std::make_unique<DataControlClipboard>(*main_);
        });
    }
    void TearDown() override {
        onQueue(*main_, [this] {
            clipboard_.reset();
            user_.reset();
        });
        typingQueue_.reset();
    }

    void pressPaste() {
        typingQueue_->post([this] { keys_.pressPasteShortcut(); });
    }
    // Runs a clipboard operation on the main queue and waits for its completion.
    template <typename Value>
    Value ask(std::function<void(std::function<void(Value)>)> operation) {
        return await<Value>(
            [&](auto done) { main_->post([operation, done] { operation(done); }); });
    }
    // What `clipboard` holds once it equals `expected`, or after the arrival limit: another
    // client learns of a new selection a moment after it is set.
    PasteboardSnapshot snapshotOnce(DataControlClipboard& clipboard,
                                    const PasteboardSnapshot& expected) {
        PasteboardSnapshot seen;
        const auto deadline = std::chrono::steady_clock::now() + arrivalLimit;
        do {
            seen = ask<PasteboardSnapshot>([&](auto done) { clipboard.takeSnapshot(done); });
        } while (seen != expected && std::chrono::steady_clock::now() < deadline);
        return seen;
    }
    void write(DataControlClipboard& clipboard, std::string text) {
        ask<bool>([&](auto done) { clipboard.writeText(text, [done] { done(true); }); });
    }

    std::unique_ptr<ReceiverProcess> receiver_;
    std::unique_ptr<SerialQueue> main_ = std::make_unique<SerialQueue>("main");
    std::unique_ptr<SerialQueue> typingQueue_ =
        std::make_unique<SerialQueue>("Kestrune.DirectTextInjector");
    wayland::DirectTyping keys_;
    // Another client of the compositor, standing for the application the user copied from.
    std::unique_ptr<DataControlClipboard> user_;
    std::unique_ptr<DataControlClipboard> clipboard_;
};

// The paste's sequence: the user's clipboard saved, our text set, the paste keys, the restore
// once the receiver has fetched the text.
TEST_P(WaylandPaste, TextArrivesAndTheUsersClipboardComesBack) {
    ask<bool>([&](auto done) { user_->restore(usersClipboard(), [done] { done(true); }); });
    const std::string text = "Grüße, 世界 👋 — ½ ﬁ";
    const auto saved = snapshotOnce(*clipboard_, usersClipboard());
    EXPECT_EQ(saved, usersClipboard()) << described(saved);
    write(*clipboard_, text);
    pressPaste();
    EXPECT_TRUE(ask<bool>([&](auto done) { clipboard_->whenTaken(arrivalLimit, done); }));
    ask<bool>([&](auto done) { clipboard_->restore(saved, [done] { done(true); }); });
    EXPECT_EQ(receiver_->waitForText(text, arrivalLimit), text);
    const auto after = snapshotOnce(*user_, usersClipboard());
    EXPECT_EQ(after, usersClipboard()) << described(after);
}

// The restore may go ahead once the receiver has read our text in full, and not before.
TEST_P(WaylandPaste, WhenTakenWaitsForTheReceiverToReadTheText) {
    write(*clipboard_, "nobody reads this");
    EXPECT_FALSE(ask<bool>([&](auto done) { clipboard_->whenTaken(300ms, done); }));
    write(*clipboard_, "ünïcödé");
    auto taken = std::async(std::launch::async, [&] {
        return ask<bool>([&](auto done) { clipboard_->whenTaken(20s, done); });
    });
    pressPaste();
    EXPECT_TRUE(taken.get());
    EXPECT_EQ(receiver_->waitForText("ünïcödé", arrivalLimit), "ünïcödé");
}

INSTANTIATE_TEST_SUITE_P(Receivers, WaylandPaste,
                         ::testing::Values("gtk-wayland", "qt-wayland", "gtk-xwayland"));

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A terminal takes Ctrl+V as a control character for its program: the paste keys there are
// Ctrl+Shift+V, chosen from the active window's application id. foot's program here is `cat`,
// writing what it receives to a file.
TEST(WaylandPasteIntoTerminal, FootReceivesThePaste) {
    if (testing::sway == nullptr) GTEST_SKIP() << "needs a headless sway";
    if (::access("/usr/bin/foot", X_OK) != 0) GTEST_SKIP() << "needs foot";
    const auto received = testing::sway->folder() / "foot-received";
    testing::ChildProcess foot(
        testing::sway->asUser({"/usr/bin/foot", "--app-id=foot", "sh", "-c",
                               "stty -icanon -echo; exec cat > " + received.string()}),
        {}, testing::sway->folder(), "foot");
    const auto deadline = std::chrono::steady_clock::now() + testing::focusLimit;
    while (!std::filesystem::exists(received) ||
           testing::sway->message("[app_id=foot] focus").find("\"success\": true") ==
               std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << foot.errors();
        std::this_thread::sleep_for(20ms);
    }
    auto main = std::make_unique<SerialQueue>("main");
    auto typing = std::make_unique<SerialQueue>("Kestrune.DirectTextInjector");
    wayland::DirectTyping keys;
    std::unique_ptr<DataControlClipboard> clipboard;
    onQueue(*main, [&] { clipboard = std::make_unique<DataControlClipboard>(*main); });
    const std::string text = "ls ünïcödé 世界";
    await<bool>([&](auto done) {
        main->post([&, done] { clipboard->writeText(text, [done] { done(true); }); });
    });
    typing->post([&] { keys.pressPasteShortcut(); });
    EXPECT_TRUE(await<bool>(
        [&](auto done) { main->post([&, done] { clipboard->whenTaken(arrivalLimit, done); }); }));
    while (fileText(received) != text &&
           std::chrono::steady_clock::now() < deadline + arrivalLimit) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(fileText(received), text);
    onQueue(*main, [&] { clipboard.reset(); });
    typing.reset();
}

}  // namespace
}  // namespace kestrune
