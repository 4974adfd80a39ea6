#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/paste/TextInjector.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/PasteboardFakes.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

struct Harness {
    ManualMainQueue main;
    testing::RecordingPasteboard pasteboard{main};
    // The clipboard's log, with the shortcut in between, in order.
    std::vector<std::string>& log = pasteboard.log;
    TextInjector injector{pasteboard, [this] { log.push_back("shortcut"); }};
    bool done = false;
    void inject(const std::string& text) {
        injector.inject(text, [this] { done = true; });
    }
};

const PasteboardSnapshot richClipboard{
    {{{"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, {'a'}},
      {"text/html", "text/html", 8, {'<', 'b', '>'}},
      {"image/png", "image/png", 8, {0x89, 'P', 'N', 'G'}}}}};

TEST(TextInjector, RestoresEveryTypeOnceTheApplicationHasReadTheText) {
    Harness h;
    h.pasteboard.contents = richClipboard;
    // A busy application: it reads the text long after any fixed wait would have given up.
    h.pasteboard.readsAfter = 1500ms;
    h.inject("dictated");
    h.main.runUntilIdle();
    EXPECT_EQ(h.log, (std::vector<std::string>{"snapshot", "write dictated", "await", "shortcut"}));
    h.main.advance(1499ms);
    EXPECT_FALSE(h.done);
    EXPECT_EQ(h.log.back(), "shortcut") << "the text is still on the clipboard";
    h.main.advance(1ms);
    EXPECT_TRUE(h.done);
    EXPECT_EQ(h.log.back(), "restore");
    EXPECT_EQ(h.pasteboard.contents, richClipboard);
}

TEST(TextInjector, WhenNobodyReadsTheClipboardComesBackAfterTheBound) {
    Harness h;
    h.pasteboard.readsAfter.reset();
    h.inject("x");
    h.main.advance(TextInjector::kTakeBound - 1ms);
    EXPECT_FALSE(h.done);
    h.main.advance(1ms);
    EXPECT_TRUE(h.done);
    // It was empty before: empty again.
    EXPECT_TRUE(h.pasteboard.contents.isEmpty());
}

}  // namespace
}  // namespace kestrune
