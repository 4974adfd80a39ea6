// The online recognizer through the service and the real HTTP client, against a local server
// that plays the transcription service: what goes over the wire, and what each kind of answer
// becomes for the user.
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <mutex>

#include "Kestrune/dictation/speech/OnlineSpeechEngine.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/dictation/speech/TranscriptionConnectionTest.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/http/CurlHttpClient.hpp"
#include "tests/support/LocalChatServer.hpp"
#include "tests/support/SpeechFakes.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::LocalChatServer;
using testing::ScriptedAnswer;

constexpr std::string_view kKey = "sk-test-0123456789-secret";

// The named parts of a multipart/form-data body.
std::map<std::string, std::string> formParts(const std::string& contentType,
                                             const std::string& body) {
    std::map<std::string, std::string> parts;
    const auto at = contentType.find("boundary=");
    if (at == std::string::npos) return parts;
    const std::string dashes = "--" + contentType.substr(at + 9);
    std::size_t position = body.find(dashes);
    while (position != std::string::npos) {
        const std::size_t start = position + dashes.size();
        if (body.compare(start, 2, "--") == 0) break;
        const std::size_t headersEnd = body.find("\r\n\r\n", start);
        const std::size_t next = body.find("\r\n" + dashes, headersEnd);
        if (headersEnd == std::string::npos || next == std::string::npos) break;
        const std::string headers = body.substr(start, headersEnd - start);
        const auto nameAt = headers.find("name=\"");
        const std::string name =
            headers.substr(nameAt + 6, headers.find('"', nameAt + 6) - nameAt - 6);
        parts[name] = body.substr(headersEnd + 4, next - headersEnd - 4);
        position = next + 2;
    }
    return parts;
}

std::uint32_t readLittleEndian(const std::string& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

class OnlineSpeechTest : public ::testing::Test {
  protected:
    OnlineSpeechTest() {
        setLogSink([this](LogLevel, std::string_view category, std::string_view message) {
            std::lock_guard lock(mutex);
            logLines.push_back(std::string(category) + ": " + std::string(message));
        });
    }

    ~OnlineSpeechTest() override {
        queue.sync([this] { service.reset(); });
        setLogSink(nullptr);
    }

    void makeService(std::chrono::milliseconds timeout) {
        queue.sync([&] {
            auto engine = std::make_shared<OnlineSpeechEngine>(OnlineSpeechEngine::Dependencies{
                client,
                [this] {
                    return OnlineTranscriptionConfiguration{server.baseURL(), std::string(kKey),
                                                            "whisper-1"};
                },
                timeout});
            service =
                std::make_unique<SpeechRecognizerService>(SpeechRecognizerService::Dependencies{
                    queue,
                    [log = captureLog] { return std::make_unique<testing::FakeAudioCapture>(log); },
                    [engine](AppLanguage) -> Result<std::shared_ptr<SpeechEngine>, KestruneError> {
                        return std::shared_ptr<SpeechEngine>(engine);
                    }});
        });
    }

    // Records `buffers` buffers of a quiet ramp in `language` and stops; the stop's outcome.
    SpeechRecognizerService::StopOutcome transcribe(
        ScriptedAnswer answer, std::size_t buffers = 10,
        AppLanguage language = AppLanguage::simplifiedChinese,
        std::chrono::milliseconds timeout = OnlineSpeechEngine::kRequestTimeout) {
        server.answerNext(std::move(answer));
        makeService(timeout);
        bool started = false;
        queue.sync([&] { started = service->start(language, nullptr, nullptr, nullptr).ok(); });
        EXPECT_TRUE(started);
        std::vector<float> buffer(AudioCapture::kBufferFrames);
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = (static_cast<float>(i) - 512) / 1024;
        for (std::size_t i = 0; i < buffers; ++i) captureLog->handlers.onBuffer(buffer);
        auto promise = std::make_shared<std::promise<SpeechRecognizerService::StopOutcome>>();
        bool transcribing = false;
        queue.sync([&] {
            service->stop([promise](auto outcome) { promise->set_value(std::move(outcome)); });
            transcribing = service->isTranscribing();
        });
        EXPECT_TRUE(transcribing);
        auto future = promise->get_future();
        if (future.wait_for(60s) != std::future_status::ready) std::abort();
        return future.get();
    }

    SerialQueue queue{"Kestrune.test.online-speech"};
    std::shared_ptr<CurlHttpClient> client = std::make_shared<CurlHttpClient>(queue);
    LocalChatServer server;
    std::shared_ptr<testing::FakeCaptureLog> captureLog =
        std::make_shared<testing::FakeCaptureLog>();
    std::unique_ptr<SpeechRecognizerService> service;
    std::mutex mutex;
    std::vector<std::string> logLines;
};

TEST_F(OnlineSpeechTest, TheRecordingIsUploadedAsAFormWithAWavOfItsLength) {
    const auto outcome = transcribe(ScriptedAnswer::json(200, R"({"text":"你好，世界"})"), 10);
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.value(), (SpeechCaptureResult{"你好，世界", {"你好，世界"}}));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/v1/audio/transcriptions");
    EXPECT_EQ(request.headers.at("authorization"), "Bearer " + std::string(kKey));
    auto parts = formParts(request.headers.at("content-type"), request.body);
    EXPECT_EQ(parts["model"], "whisper-1");
    EXPECT_EQ(parts["language"], "zh");
    EXPECT_EQ(parts["response_format"], "json");
    EXPECT_EQ(parts["prompt"].substr(0, 17), "API, API Key, Ope");
    EXPECT_NE(parts["prompt"].find(", prompt 优化"), std::string::npos);

    const std::string& wav = parts["file"];
    const std::uint32_t samples = 10 * AudioCapture::kBufferFrames;
    ASSERT_EQ(wav.size(), 44 + samples * 2);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(readLittleEndian(wav, 4, 4), 36 + samples * 2);
    EXPECT_EQ(readLittleEndian(wav, 20, 2), 1u);       // PCM
    EXPECT_EQ(readLittleEndian(wav, 22, 2), 1u);       // mono
    EXPECT_EQ(readLittleEndian(wav, 24, 4), 16'000u);  // rate
    EXPECT_EQ(readLittleEndian(wav, 34, 2), 16u);      // bits
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(readLittleEndian(wav, 40, 4), samples * 2);
    // The first sample of the ramp, -0.5 of full scale.
    EXPECT_EQ(static_cast<std::int16_t>(readLittleEndian(wav, 44, 2)), -16384);
}

TEST_F(OnlineSpeechTest, EachFailedAnswerBecomesAClearRecordingFailure) {
    struct Case {
        ScriptedAnswer answer;
        std::string expected;
        std::chrono::milliseconds timeout = OnlineSpeechEngine::kRequestTimeout;
    };
    const std::vector<Case> cases = {
        {ScriptedAnswer::json(401, R"({"error":{"message":"Incorrect API key provided."}})"),
         localizedFormat("Transcription failed: %s", {"Incorrect API key provided."})},
        {ScriptedAnswer::json(200, "<html>busy</html>"),
         localized("The transcription service answered without a transcript.")},
        {ScriptedAnswer::json(500, "upstream down"),
         localizedFormat("Transcription failed: %s", {"HTTP 500"})},
        // A reply slower than the limit: the server never answers.
        {ScriptedAnswer::hold(),
         localizedFormat("Transcription failed: %s", {"Operation timed out"}), 1'000ms},
        {ScriptedAnswer::closeEarly(),
         localizedFormat("Transcription failed: %s", {"Empty reply"})},
    };
    for (const auto& c : cases) {
        const auto outcome = transcribe(c.answer, 3, AppLanguage::english, c.timeout);
        ASSERT_FALSE(outcome.ok()) << c.expected;
        EXPECT_EQ(outcome.error().kind(), KestruneError::Kind::recordingFailed);
        EXPECT_EQ(outcome.error().message().substr(0, c.expected.size()), c.expected);
    }
    std::lock_guard lock(mutex);
    EXPECT_FALSE(logLines.empty()) << "failures are logged";
    for (const auto& line : logLines) EXPECT_EQ(line.find(kKey), std::string::npos) << line;
}

// Only the hosted default service needs a key; any other address is the user's own server.
TEST(OnlineSpeechRequest, AKeyIsNeededForTheHostedServiceOnly) {
    const auto configured = [](std::string url, std::string key) {
        return OnlineTranscriptionConfiguration{std::move(url), std::move(key), "whisper-1"}
            .isComplete();
    };
    EXPECT_FALSE(configured("https://api.openai.com/v1", ""));
    EXPECT_FALSE(configured(" HTTPS://API.OpenAI.com/v1/ ", ""));
    EXPECT_TRUE(configured("https://api.openai.com/v1", "sk-1"));
    EXPECT_TRUE(configured("http://localhost:8000/v1", ""));
    EXPECT_TRUE(configured("http://192.168.1.20:9000/v1", ""));
    EXPECT_FALSE(configured("  ", "sk-1"));
    EXPECT_FALSE(
        (OnlineTranscriptionConfiguration{"http://localhost:8000/v1", "", " \n"}.isComplete()));
}

TEST(OnlineSpeechRequest, TheEndpointIsAppendedOnce) {
    EXPECT_EQ(OnlineSpeechEngine::transcriptionsURL("https://api.openai.com/v1"),
              "https://api.openai.com/v1/audio/transcriptions");
    EXPECT_EQ(OnlineSpeechEngine::transcriptionsURL(" https://h.example/v1/ \n"),
              "https://h.example/v1/audio/transcriptions");
    EXPECT_EQ(OnlineSpeechEngine::transcriptionsURL("https://h.example/v1/audio/transcriptions"),
              "https://h.example/v1/audio/transcriptions");
}

}  // namespace
}  // namespace kestrune

namespace kestrune {
namespace {

// The settings window's "Test": one second of silence, with the values as typed.
TEST(TranscriptionConnectionTest, SendsASecondOfSilenceAndReportsTheAnswer) {
    L10n::shared().setLanguageOverride("en");
    SerialQueue queue{"Kestrune.test.transcription-test"};
    auto client = std::make_shared<CurlHttpClient>(queue);
    testing::LocalChatServer server;
    const auto run = [&](OnlineTranscriptionConfiguration configuration) {
        std::promise<Result<void, std::string>> answered;
        queue.post([&] {
            testTranscriptionConnection(
                client, queue, configuration, "en-US",
                [&](Result<void, std::string> outcome) { answered.set_value(std::move(outcome)); });
        });
        auto future = answered.get_future();
        EXPECT_EQ(future.wait_for(60s), std::future_status::ready);
        return future.get();
    };

    server.answerNext(testing::ScriptedAnswer::json(200, R"({"text":""})"));
    EXPECT_TRUE(run({server.baseURL(), "sk-typed", "whisper-typed"}).ok());
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/v1/audio/transcriptions");
    EXPECT_EQ(requests[0].headers["authorization"], "Bearer sk-typed");
    const auto parts = formParts(requests[0].headers["content-type"], requests[0].body);
    ASSERT_EQ(parts.count("file"), 1u);
    const auto& wav = parts.at("file");
    EXPECT_EQ(readLittleEndian(wav, 24, 4), 16000u);
    EXPECT_EQ(readLittleEndian(wav, 40, 4), 32000u) << "one second of 16-bit samples";
    EXPECT_EQ(wav.substr(44), std::string(32000, '\0')) << "silence";
    EXPECT_EQ(parts.at("model"), "whisper-typed");

    server.answerNext(testing::ScriptedAnswer::json(401, R"({"error":{"message":"bad key"}})"));
    const auto refused = run({server.baseURL(), "sk-wrong", "whisper-1"});
    ASSERT_FALSE(refused.ok());
    EXPECT_FALSE(refused.error().empty());

    // A server of one's own without a key: asked without an Authorization header.
    server.answerNext(testing::ScriptedAnswer::json(200, R"({"text":""})"));
    EXPECT_TRUE(run({server.baseURL(), "", "local-model"}).ok());
    requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].headers.count("authorization"), 0u);

    // No model to ask for: refused at once, without a request.
    const auto incomplete = run({server.baseURL(), "", " "});
    EXPECT_FALSE(incomplete.ok());
    EXPECT_EQ(server.requests().size(), 3u);
    L10n::shared().setLanguageOverride(std::nullopt);
}

}  // namespace
}  // namespace kestrune
