#pragma once

#include <cstddef>
#include <string>

#include "Kestrune/phone/typing/UnicodeText.hpp"

// Texts that typing into a real receiver must deliver exactly. Shared by the typing tests and the
// typing benchmark.
namespace kestrune::testing {

inline const std::string cjkSample = "中文输入测试，日本語のテキスト、한국어 텍스트。";

// Skin tones, a family joined by zero-width joiners, variation selectors, a flag and a keycap:
// several scalars per character.
inline const std::string emojiSample =
    "❤️ 👍🏽 👨‍👩‍👧‍👦 ☺︎ 🇯🇵 ✌🏿 1️⃣";

// 150 different ideographs: far more than the spare keycodes, so that keycodes carry many
// different characters one after another.
inline std::string distinctIdeographsSample() {
    std::string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + 150; ++c) unicode::appendUtf8(text, c);
    return text;
}

// Latin words between pairs of ideographs (80 different ones): remapped characters interleaved
// with characters typed by their own keys.
inline std::string mixedCjkLatinSample() {
    const char* words[] = {"Meeting", "at", "3pm:", "bring", "the", "Report", "and", "QA-list"};
    std::string text;
    for (int i = 0; i < 40; ++i) {
        if (i > 0) text += ' ';
        text += words[i % 8];
        text += ' ';
        unicode::appendUtf8(text, static_cast<char32_t>(0x5E00 + 2 * i));
        unicode::appendUtf8(text, static_cast<char32_t>(0x5E00 + 2 * i + 1));
        text += ',';
    }
    return text;
}

// Printable ASCII, every character once before any repeats, up to `length` bytes.
inline std::string asciiText(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; text.size() < length; ++i)
        text.push_back(static_cast<char>('!' + i % 94));
    return text;
}

// `count` characters no keyboard layout holds together: ideographs, kana, hangul, emoji (one with
// a skin tone, one with a variation selector).
inline std::string cjkEmojiText(int count) {
    const char* pieces[] = {"漢", "字", "か", "な", "한",       "국",
                            "어", "中", "文", "😀",  "👍🏽", "❤️"};
    std::string text;
    for (int i = 0; i < count; ++i) text += pieces[(i * 7) % 12];
    return text;
}

}  // namespace kestrune::testing
