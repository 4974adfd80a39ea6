// Dictation end to end through the application's real services on the test X server and
// PulseAudio: Right Alt held through XTest, a flite sentence played into the test source,
// pocketsphinx, the refiner against a local chat-completions stand-in, and the paste into a Qt
// receiver. Only the panel is a recording stand-in (the Qt panel has tests of its own).
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <chrono>
#include <map>
#include <thread>

#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "app/Dictation.hpp"
#include "app/Root.hpp"
#include "app/Services.hpp"
#include "tests/support/Await.hpp"
#include "tests/support/ClipboardTestSupport.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/LocalChatServer.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/TestAudio.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using State = AppCoordinator::State;

// X keycode of Right Alt on the test server's US keymap.
constexpr int kRightAltKeycode = 108;
constexpr auto kRightAlt = TriggerKey::modifier(61);
// The test source hands on what is played about a quarter of a second later; four times that,
// so that a busy machine does not lose the last word before the key goes up.
constexpr auto kMonitorDelay = 1000ms;
// Waits for the application, far beyond what a sanitizer build on a busy machine needs.
constexpr auto kFlowLimit = 60s;

constexpr const char* kSentence = "Please send the report to my manager before noon.";
// Pasted after a dictation whose text must not be typed.
constexpr const char* kMarker = "pasted afterwards";

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// The clipboard as another application sees it: each data target with its bytes.
std::map<std::string, std::string> clipboardContents() {
    std::map<std::string, std::string> contents;
    for (const auto& target : testing::clipboardTargets()) {
        if (target == "TARGETS" || target == "TIMESTAMP" || target == "MULTIPLE" ||
            target == "SAVE_TARGETS") {
            continue;
        }
        contents[target] = testing::clipboardData(target);
    }
    return contents;
}

double wordErrorRate(const std::string& reference, const std::string& hypothesis) {
    return static_cast<double>(testing::wordErrors(reference, hypothesis)) /
           static_cast<double>(testing::normalizedWords(reference).size());
}

class DictationFlow : public ::testing::Test {
  protected:
    AppCoordinator& coordinator() { return dictation_->coordinator(); }

    template <typename Work>
    auto onMain(Work work) {
        decltype(work()) value{};
        main_.sync([&] { value = work(); });
        return value;
    }

    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr || std::getenv("MURRELO_IN_SERVICES") == nullptr) {
            GTEST_SKIP() << "runs inside scripts/with-test-services";
        }
        L10n::shared().setLanguageOverride("en");
        sentence_ = testing::spokenSentence(folder_.path(), "sentence", kSentence);
        receiver_ = testing::ReceiverProcess::startQt();
        ASSERT_TRUE(receiver_ && receiver_->focus());
        // Another application's clipboard, with more than one type.
        ASSERT_EQ(receiver_->ask("setclip text/plain=" + hex("kept before") +
                                 ",text/html=" + hex("<i>kept</i> before")),
                  "ok");
        clipboardBefore_ = clipboardContents();
        ASSERT_EQ(clipboardBefore_["text/html"], "<i>kept</i> before");

        main_.sync([this] {
            services_ =
                std::make_unique<app::Services>(main_, app::Root::openSettings(settings_.path()));
            auto platform = services_->dictationPlatform();
            pasteQueue_ = &platform.pasteQueue;
            platform.settings.setSelectedLanguage(AppLanguage::english);
            platform.settings.setSpeechEngine(SpeechEnginePreference::builtIn);
            platform.settings.setLLMEnabled(false);
            dictation_ = std::make_unique<app::Dictation>(std::move(platform), main_, panel_);
            coordinator().updateTriggerKey(kRightAlt);
            coordinator().start(false);
        });
        ASSERT_EQ(onMain([this] { return coordinator().monitorStatus(); }),
                  RecordingMonitorStartPolicy::Status::monitoring);
    }

    void TearDown() override {
        main_.sync([this] {
            dictation_.reset();
            services_.reset();
        });
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    bool waitForState(State wanted, std::chrono::milliseconds limit = kFlowLimit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (onMain([this] { return coordinator().state().value(); }) == wanted) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void waitForPanelTranscript() {
        const auto deadline = std::chrono::steady_clock::now() + kFlowLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto shown = onMain([this] { return panel_.last(); });
            if (shown.rfind("show ", 0) == 0 && wordErrorRate(kSentence, shown.substr(5)) <= 0.15) {
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
    }

    // Holds Right Alt as a user would, speaks the sentence, lets go, and waits until the text has
    // been delivered (the panel hidden, the coordinator idle again).
    void dictate() {
        testing::fakeKey(kRightAltKeycode, true);
        ASSERT_TRUE(waitForState(State::recording));
        ASSERT_TRUE(testing::play(sentence_));
        std::this_thread::sleep_for(kMonitorDelay);
        // A user lets go once the words are on the panel. On a loaded machine the recognizer
        // runs behind the audio; released earlier, it would not catch up within its finishing
        // limit and the last words would be cut off, as they would be for the user.
        waitForPanelTranscript();
        // Still recording: neither the release poll nor anything else ended it early.
        EXPECT_EQ(onMain([this] { return coordinator().state().value(); }), State::recording)
            << ::testing::PrintToString(onMain([this] { return panel_.calls; }));
        testing::fakeKey(kRightAltKeycode, false);
        ASSERT_TRUE(waitForState(State::idle));
        transcript_ = onMain([this] { return coordinator().currentTranscript(); });
        std::cout << "\"" << kSentence << "\" -> \"" << transcript_ << "\"\n";
        EXPECT_LE(wordErrorRate(kSentence, transcript_), 0.15)
            << "panel: " << ::testing::PrintToString(onMain([this] { return panel_.calls; }))
            << " levels: " << onMain([this] { return panel_.levels.size(); }) << ", highest "
            << onMain([this] {
                   return panel_.levels.empty()
                              ? 0.0
                              : *std::max_element(panel_.levels.begin(), panel_.levels.end());
               });
        EXPECT_EQ(onMain([this] { return panel_.last(); }), "hide");
    }

    testing::TemporaryDirectory folder_{"dictation-flow"};
    testing::TemporaryDirectory settings_{"dictation-flow-settings"};
    std::filesystem::path sentence_;
    std::unique_ptr<testing::ReceiverProcess> receiver_;
    std::map<std::string, std::string> clipboardBefore_;
    SerialQueue main_{"test-main"};
    testing::RecordingPanelLog panel_;
    std::unique_ptr<app::Services> services_;
    std::unique_ptr<app::Dictation> dictation_;
    SerialPasteQueue* pasteQueue_ = nullptr;
    std::string transcript_;
};

TEST_F(DictationFlow, TheSpokenSentenceIsTypedAndTheClipboardComesBack) {
    dictate();
    EXPECT_EQ(receiver_->waitForText(transcript_, kFlowLimit), transcript_);
    EXPECT_EQ(clipboardContents(), clipboardBefore_);
    const auto calls = onMain([this] { return panel_.calls; });
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "show Listening...");
    const auto levels = onMain([this] { return panel_.levels; });
    EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 0.3);
}

TEST_F(DictationFlow, WithRefinementTheModelsAnswerIsTyped) {
    testing::LocalChatServer chat;
    const std::string refined = "Refined: please send the report to my manager before noon.";
    chat.answerNext(testing::ScriptedAnswer::json(
        200, boost::json::serialize(boost::json::object{
                 {"choices", boost::json::array{boost::json::object{
                                 {"message", boost::json::object{{"role", "assistant"},
                                                                 {"content", refined}}}}}}})));
    main_.sync([&] {
        auto& settings = services_->shellPlatform().settings;
        settings.setLLMBaseURL(chat.baseURL());
        settings.setLLMAPIKey("sk-dictation-test");
        settings.setLLMModel("model-x");
        settings.setLLMEnabled(true);
    });
    dictate();
    EXPECT_EQ(receiver_->waitForText(refined, kFlowLimit), refined);
    EXPECT_EQ(clipboardContents(), clipboardBefore_);
    const auto requests = chat.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers.at("authorization"), "Bearer sk-dictation-test");
    EXPECT_NE(requests[0].body.find("Best transcript:\\n" + transcript_), std::string::npos)
        << requests[0].body;
    const auto calls = onMain([this] { return panel_.calls; });
    EXPECT_NE(std::find(calls.begin(), calls.end(), "refining"), calls.end());
}

TEST_F(DictationFlow, WithAnOverrideNothingIsTyped) {
    std::vector<std::string> received;
    main_.sync([&] {
        coordinator().setFinalTextOverride(
            [&received](const std::string& text) { received.push_back(text); });
    });
    dictate();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], transcript_);
    // The paste queue is serial: a text pasted now comes after any the dictation asked for, so
    // once it has arrived alone, nothing was typed before it.
    testing::Await<Result<void, RemoteError>> pasted;
    main_.sync([&] { pasteQueue_->enqueue(std::string(kMarker), pasted.completion()); });
    EXPECT_EQ(receiver_->waitForText(kMarker, kFlowLimit), kMarker);
    EXPECT_TRUE(pasted.get().ok());
    EXPECT_EQ(clipboardContents(), clipboardBefore_);
}

}  // namespace
}  // namespace kestrune
