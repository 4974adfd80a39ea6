#pragma once

#include <string>

// Texts that typing into a real receiver must deliver exactly. Shared by the typing tests and the
// typing benchmark.
namespace kestrune::testing {

inline void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

inline const std::string cjkSample = "中文输入测试，日本語のテキスト、한국어 텍스트。";

// Skin tones, a family joined by zero-width joiners, variation selectors, a flag and a keycap:
// several scalars per character.
inline const std::string emojiSample =
    "❤️ 👍🏽 👨‍👩‍👧‍👦 ☺︎ 🇯🇵 ✌🏿 1️⃣";

// 150 different ideographs: far more than the spare keycodes, so that keycodes carry many
// different characters one after another.
inline std::string distinctIdeographsSample() {
    std::string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + 150; ++c) appendUtf8(text, c);
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
        appendUtf8(text, static_cast<char32_t>(0x5E00 + 2 * i));
        appendUtf8(text, static_cast<char32_t>(0x5E00 + 2 * i + 1));
        text += ',';
    }
    return text;
}

}  // namespace kestrune::testing
