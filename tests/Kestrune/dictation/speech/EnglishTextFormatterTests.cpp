// The edge cases of turning recognized words into written text; real recognizer output goes
// through it in the speech audio tests.
#include <gtest/gtest.h>

#include "Kestrune/dictation/speech/EnglishTextFormatter.hpp"

namespace kestrune {
namespace {

using EnglishTextFormatter::written;

TEST(EnglishTextFormatter, SentencesGetCapitalsAndAClosingFullStop) {
    EXPECT_EQ(written("please buy bread and milk"), "Please buy bread and milk.");
    EXPECT_EQ(written("so i think i'm late and i'll call"), "So I think I'm late and I'll call.");
    // Words that merely begin with "i" stay as they are.
    EXPECT_EQ(written("it is in italy"), "It is in italy.");
    EXPECT_EQ(written(""), "");
    EXPECT_EQ(written("  two   spaces "), "Two spaces.");
}

TEST(EnglishTextFormatter, SpokenMarksAttachToTheWordBeforeAndEndSentences) {
    EXPECT_EQ(written("hello comma how are you question mark i am fine full stop"),
              "Hello, how are you? I am fine.");
    EXPECT_EQ(written("wait exclamation point note colon it works exclamation mark"),
              "Wait! Note: it works!");
    EXPECT_EQ(written("done period"), "Done.");
    // A mark alone continues what was typed before.
    EXPECT_EQ(written("period"), ".");
    // "new", "full" and "question" alone are words.
    EXPECT_EQ(written("a new question is full"), "A new question is full.");
}

TEST(EnglishTextFormatter, LineBreaksStartANewCapitalisedLineWithoutSpaces) {
    EXPECT_EQ(written("dear anna comma new line thank you"), "Dear anna,\nThank you.");
    EXPECT_EQ(written("first point new paragraph second point"), "First point\n\nSecond point.");
    // Ending on a break adds no full stop after it.
    EXPECT_EQ(written("milk new line"), "Milk\n");
}

}  // namespace
}  // namespace kestrune
