#pragma once

#include <string>
#include <string_view>

namespace kestrune::EnglishTextFormatter {

// Turns the built-in recognizer's words (lower case, single spaces, no punctuation) into text that
// reads like writing: each sentence starts with a capital, "i" and its contractions are "I", the
// spoken marks ("comma", "period" or "full stop", "question mark", "exclamation mark" or
// "exclamation point", "colon") become the marks, "new line" and "new paragraph" become line
// breaks, and a text that ends on a word gets a full stop. Partial and final texts go through it
// alike, so the panel shows what will be typed.
std::string written(std::string_view recognizedWords);

}  // namespace kestrune::EnglishTextFormatter
