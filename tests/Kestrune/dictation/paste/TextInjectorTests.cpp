#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/dictation/paste/TextInjector.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/PasteboardFakes.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

struct Harness {
    ManualMainQueue main;
    testing::RecordingPasteboard pasteboard{main};
    // The clipboard's log, with the input-source changes and the shortcut in between, in order.
    std::vector<std::string>& log = pasteboard.log;
    std::optional<InputSourceDescription> current;
    TextInjector::InputSources sources{
        [this] { return current; },
        [] {
            return InputSourceDescription{
                "com.apple.keylayout.ABC", std::vector<std::string>{"en"}, {}};
        },
        [this](const InputSourceDescription& s) {
            log.push_back("select " + s.identifier);
            current = s;
        }};
    TextInjector injector{main, pasteboard, [this] { log.push_back("shortcut"); }, sources};
    bool done = false;
    void inject(const std::string& text) {
        injector.inject(text, [this] { done = true; });
    }
};

const PasteboardSnapshot richClipboard{
    {{{"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, {'a'}},
      {"text/html", "text/html", 8, {'<', 'b', '>'}},
      {"image/png", "image/png", 8, {0x89, 'P', 'N', 'G'}}}}};

TEST(TextInjector, PastesThenRestoresEveryTypeAfterTheWait) {
    Harness h;
    h.pasteboard.contents = richClipboard;
    h.inject("dictated");
    h.main.runUntilIdle();
    EXPECT_EQ(h.log, (std::vector<std::string>{"snapshot", "write dictated", "shortcut"}));
    h.main.advance(179ms);
    EXPECT_FALSE(h.done);
    h.main.advance(1ms);
    EXPECT_TRUE(h.done);
    EXPECT_EQ(h.log.back(), "restore");
    EXPECT_EQ(h.pasteboard.contents, richClipboard);
}

TEST(TextInjector, EmptyClipboardIsEmptyAgain) {
    Harness h;
    h.inject("x");
    h.main.advance(1s);
    EXPECT_TRUE(h.done);
    EXPECT_TRUE(h.pasteboard.contents.isEmpty());
}

TEST(TextInjector, InputMethodIsSwitchedAroundThePaste) {
    Harness h;
    h.current = InputSourceDescription{
        "com.apple.inputmethod.SCIM.ITABC", std::vector<std::string>{"zh-Hans"}, {}};
    h.inject("hi");
    h.main.runUntilIdle();
    EXPECT_EQ(h.log, (std::vector<std::string>{"snapshot", "select com.apple.keylayout.ABC"}));
    h.main.advance(90ms);
    EXPECT_EQ(h.log.back(), "shortcut");
    h.main.advance(180ms);
    EXPECT_EQ(h.log, (std::vector<std::string>{"snapshot", "select com.apple.keylayout.ABC",
                                               "write hi", "shortcut", "restore",
                                               "select com.apple.inputmethod.SCIM.ITABC"}));
    EXPECT_TRUE(h.done);
}

TEST(TextInjector, PlainLayoutIsLeftAlone) {
    Harness h;
    h.current =
        InputSourceDescription{"com.apple.keylayout.US", std::vector<std::string>{"en"}, {}};
    h.inject("hi");
    h.main.advance(1s);
    // Re-selecting the remembered source is harmless; nothing else is selected.
    EXPECT_EQ(h.log, (std::vector<std::string>{"snapshot", "write hi", "shortcut", "restore",
                                               "select com.apple.keylayout.US"}));
}

TEST(InputSourceController, RecognisesInputMethods) {
    using Source = InputSourceDescription;
    EXPECT_FALSE(InputSourceController::isCJKInputSource(std::nullopt));
    EXPECT_TRUE(
        InputSourceController::isCJKInputSource(Source{"x", std::vector<std::string>{"ja"}, {}}));
    EXPECT_TRUE(InputSourceController::isCJKInputSource(
        Source{"x", std::vector<std::string>{"en", "KO"}, {}}));
    EXPECT_TRUE(
        InputSourceController::isCJKInputSource(Source{"x", std::nullopt, "TISCategoryInputMode"}));
    EXPECT_TRUE(
        InputSourceController::isCJKInputSource(Source{"com.x.InputMethod.y", std::nullopt, {}}));
    EXPECT_FALSE(InputSourceController::isCJKInputSource(Source{"com.apple.keylayout.US",
                                                                std::vector<std::string>{"en"},
                                                                "TISCategoryKeyboardInputSource"}));
}

TEST(InputSourceController, PrefersTheSystemChoiceThenAbcThenUs) {
    using Source = InputSourceDescription;
    Source system{"system", {}, {}};
    Source abc{"com.apple.keylayout.ABC", {}, {}};
    Source us{"com.apple.keylayout.US", {}, {}};
    Source other{"other", {}, {}};
    EXPECT_EQ(InputSourceController::preferredASCIIInputSource(system, std::vector{us, abc}),
              system);
    EXPECT_EQ(
        InputSourceController::preferredASCIIInputSource(std::nullopt, std::vector{other, us, abc}),
        abc);
    EXPECT_EQ(
        InputSourceController::preferredASCIIInputSource(std::nullopt, std::vector{other, us}), us);
    EXPECT_EQ(InputSourceController::preferredASCIIInputSource(std::nullopt, std::vector{other}),
              other);
    EXPECT_EQ(InputSourceController::preferredASCIIInputSource(std::nullopt, std::vector<Source>{}),
              std::nullopt);
    EXPECT_EQ(InputSourceController::preferredASCIIInputSource(std::nullopt, std::nullopt),
              std::nullopt);
}

}  // namespace
}  // namespace kestrune
