#include <gtest/gtest.h>
#include <stdlib.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/wayland/TypingKeymap.hpp"

namespace kestrune::wayland {
namespace {

using Stroke = TypingKeymap::Stroke;

class TypingKeymapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A known layout, whatever the machine's: German, whose ü, ß and shifted & lie elsewhere
        // than on a US keyboard.
        setenv("XKB_DEFAULT_LAYOUT", "de", 1);
        keymap_ = TypingKeymap::fromDefaults();
        unsetenv("XKB_DEFAULT_LAYOUT");
        ASSERT_TRUE(keymap_);
    }

    std::unique_ptr<TypingKeymap> keymap_;
};

// Evdev codes of the German layout: z lies where a US keyboard has y, ü right of p.
TEST_F(TypingKeymapTest, CharactersOfTheLayoutGoByTheirKeysWithShiftWhereNeeded) {
    EXPECT_EQ(keymap_->onLayout(U'z'), (Stroke{21, 0}));
    EXPECT_EQ(keymap_->onLayout(U'Z'), (Stroke{21, keymap_->shiftMask()}));
    EXPECT_EQ(keymap_->onLayout(U'ü'), (Stroke{26, 0}));
    EXPECT_EQ(keymap_->onLayout(U'&'), (Stroke{7, keymap_->shiftMask()}));
    // Reached only through AltGr on this layout, or not at all: spare keycodes carry them.
    EXPECT_EQ(keymap_->onLayout(U'@'), std::nullopt);
    EXPECT_EQ(keymap_->onLayout(U'世'), std::nullopt);
    EXPECT_EQ(keymap_->keyFor(XKB_KEY_Return), 28u);
    EXPECT_NE(keymap_->shiftMask(), keymap_->controlMask());
}

// The extras land on keys the layout leaves empty, and the result is the whole layout still.
TEST_F(TypingKeymapTest, ExtrasGoOnEmptyKeysOfTheWholeLayout) {
    ASSERT_GE(keymap_->spareCount(), 20u);
    const std::vector<char32_t> extras{U'世', U'👋', U'\u0301', U'@'};
    const auto text = keymap_->textWithExtras(extras);
    ASSERT_FALSE(text.empty());

    auto context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    auto compiled = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                               XKB_KEYMAP_COMPILE_NO_FLAGS);
    ASSERT_NE(compiled, nullptr);
    auto state = xkb_state_new(compiled);
    for (std::size_t i = 0; i < extras.size(); ++i) {
        const auto code = keymap_->spareKey(i) + 8;
        EXPECT_LE(code, 255u) << "beyond what X clients under XWayland can receive";
        EXPECT_EQ(xkb_state_key_get_utf32(state, code), static_cast<std::uint32_t>(extras[i]));
    }
    // The layout's own keys are unchanged.
    EXPECT_EQ(xkb_state_key_get_utf32(state, 21 + 8), static_cast<std::uint32_t>(U'z'));
    xkb_state_unref(state);
    xkb_keymap_unref(compiled);
    xkb_context_unref(context);

    EXPECT_EQ(keymap_->textWithExtras(std::vector<char32_t>(keymap_->spareCount() + 1, U'世')), "");
}

TEST(TypingKeymap, ParsesTheSeatsKeymapWithItsTerminatingNul) {
    auto context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    auto keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string sent(text, strlen(text) + 1);
    free(text);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);

    EXPECT_TRUE(TypingKeymap::fromText(sent));
    EXPECT_FALSE(TypingKeymap::fromText("xkb_keymap { garbage"));
    EXPECT_FALSE(TypingKeymap::fromText(""));
}

}  // namespace
}  // namespace kestrune::wayland
