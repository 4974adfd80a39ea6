// The whole recording path with real sound: files played into the test PulseAudio server's null
// sink are recorded from its monitor (the default source) and recognized by pocketsphinx.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "tests/support/RecordingHarness.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/TestAudio.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::RecordingHarness;

// The monitor hands on what is played about a quarter of a second later. The recording goes on
// until four times that much sound played after the file has come through, counted in buffers
// received rather than in time, so a busy machine does not lose the last word.
constexpr auto kMonitorDelay = 1000ms;
constexpr auto kBufferDuration = std::chrono::duration<double>(
    static_cast<double>(AudioCapture::kBufferFrames) / AudioCapture::kClientFormat.sampleRate);
constexpr std::size_t kBuffersAfterTheFile =
    static_cast<std::size_t>(kMonitorDelay / kBufferDuration) + 1;

SpeechCaptureResult record(RecordingHarness& harness, const std::filesystem::path& wav) {
    EXPECT_TRUE(harness.start().ok());
    EXPECT_TRUE(testing::play(wav));
    EXPECT_TRUE(harness.waitForBuffers(kBuffersAfterTheFile));
    auto outcome = harness.stop();
    EXPECT_TRUE(outcome.ok());
    return outcome.ok() ? outcome.value() : SpeechCaptureResult{};
}

TEST(SpeechAudio, FliteSentencesAreRecognizedWithFewWordErrors) {
    const std::vector<std::string> sentences = {
        "The quick brown fox jumps over the lazy dog.",
        "Please send the report to my manager before noon.",
        "I would like a cup of coffee with milk.",
        "The weather is very nice today.",
        "We will meet at the train station tomorrow morning.",
        "Open the door and turn on the light.",
    };
    testing::TemporaryDirectory folder("speech-audio");
    RecordingHarness harness;
    std::size_t errors = 0;
    std::size_t words = 0;
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        const auto wav =
            testing::spokenSentence(folder.path(), "s" + std::to_string(i), sentences[i]);
        harness.clear();
        const auto result = record(harness, wav);
        errors += testing::wordErrors(sentences[i], result.transcript);
        words += testing::normalizedWords(sentences[i]).size();
        std::cout << "\"" << sentences[i] << "\" -> \"" << result.transcript << "\"\n";

        // Partial transcripts reached the callback while the sentence was being spoken, and the
        // alternatives are the trimmed, distinct n-best strings led by the transcript itself.
        EXPECT_FALSE(harness.transcripts().empty());
        ASSERT_FALSE(result.alternatives.empty());
        EXPECT_LE(result.alternatives.size(), SpeechRecognizerService::kMaxAlternatives);
        EXPECT_EQ(result.alternatives.front(), result.transcript);
        EXPECT_TRUE(harness.errors().empty());
        // Speech moves the level; stopping brings it back to zero.
        const auto levels = harness.levels();
        EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.3f);
        EXPECT_EQ(levels.back(), 0.0f);
    }
    const double wordErrorRate = static_cast<double>(errors) / static_cast<double>(words);
    std::cout << "word error rate: " << wordErrorRate * 100 << " % over " << words << " words\n";
    EXPECT_LE(wordErrorRate, 0.15);
}

TEST(SpeechAudio, SilenceGivesAnEmptyTranscriptAndLevelZero) {
    testing::TemporaryDirectory folder("speech-audio");
    const auto wav = testing::synthesized(folder.path(), "silence", "trim 0 1.5");
    RecordingHarness harness;
    const auto result = record(harness, wav);
    EXPECT_EQ(result.transcript, "");
    const auto levels = harness.levels();
    // At least the buffers of a second and a half arrived, each of them silent.
    EXPECT_GE(levels.size(), 20u);
    EXPECT_TRUE(std::all_of(levels.begin(), levels.end(), [](float l) { return l == 0.0f; }));
}

TEST(SpeechAudio, AFullScaleSquareWaveGivesLevelOne) {
    testing::TemporaryDirectory folder("speech-audio");
    const auto wav = testing::synthesized(folder.path(), "square", "synth 1.5 square 440");
    RecordingHarness harness;
    record(harness, wav);
    const auto levels = harness.levels();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(*std::max_element(levels.begin(), levels.end()), 1.0f);
    // Every buffer fully inside the tone is at the top, not only one lucky buffer.
    EXPECT_GE(std::count(levels.begin(), levels.end(), 1.0f), 15);
}

// Spoken punctuation and layout words come out as the marks they name, in text that reads like
// writing: a capital at the start and after each line break, a full stop at the end.
TEST(SpeechAudio, SpokenCommasAndNewLinesBecomeWrittenText) {
    testing::TemporaryDirectory folder("speech-audio");
    RecordingHarness harness;
    const auto dear = record(harness, testing::spokenSentence(folder.path(), "dear",
                                                              "Dear John comma new line thank "
                                                              "you for the lovely flowers."));
    const auto list = record(
        harness, testing::spokenSentence(folder.path(), "list",
                                         "I bought apples comma bread comma and milk today."));
    for (const auto& result : {dear, list}) {
        std::cout << "-> \"" << result.transcript << "\"\n";
        ASSERT_FALSE(result.transcript.empty());
        EXPECT_TRUE(std::isupper(static_cast<unsigned char>(result.transcript.front())));
        EXPECT_EQ(result.transcript.back(), '.');
        EXPECT_EQ(result.transcript.find(" ,"), std::string::npos) << "no space before a mark";
        // Every alternative reads the same way, so refinement sees written text too.
        for (const auto& alternative : result.alternatives) EXPECT_EQ(alternative.back(), '.');
    }
    const auto lineBreak = dear.transcript.find(",\n");
    ASSERT_NE(lineBreak, std::string::npos) << dear.transcript;
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(dear.transcript[lineBreak + 2])));
    EXPECT_EQ(dear.transcript.find("comma"), std::string::npos);
    EXPECT_EQ(list.transcript.rfind("I ", 0), 0u) << list.transcript;
    EXPECT_GE(std::count(list.transcript.begin(), list.transcript.end(), ','), 1)
        << list.transcript;
}

// A second recording on the same service starts on a fresh capture and hears only its own audio.
TEST(SpeechAudio, RecordingsFollowEachOther) {
    testing::TemporaryDirectory folder("speech-audio");
    RecordingHarness harness;
    const auto first = record(
        harness, testing::spokenSentence(folder.path(), "a", "The weather is very nice today."));
    const auto second =
        record(harness,
               testing::spokenSentence(folder.path(), "b", "Open the door and turn on the light."));
    EXPECT_LE(testing::wordErrors("The weather is very nice today.", first.transcript), 2u);
    EXPECT_LE(testing::wordErrors("Open the door and turn on the light.", second.transcript), 2u);
    EXPECT_FALSE(harness.isRecording());
}

}  // namespace
}  // namespace kestrune
