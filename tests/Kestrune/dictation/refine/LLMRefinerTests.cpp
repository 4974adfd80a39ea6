#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <future>

#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/http/CurlHttpClient.hpp"
#include "tests/support/LocalChatServer.hpp"

namespace kestrune {
namespace {

using testing::LocalChatServer;
using testing::ScriptedAnswer;
namespace json = boost::json;

std::string urlOf(std::string_view base) {
    const auto url = LLMRefiner::chatCompletionsURL(base);
    return url ? url.value() : "error: " + url.error().localizedDescription();
}

TEST(ChatCompletionsURL, AppendsThePathOnceAndKeepsTheRest) {
    EXPECT_EQ(urlOf("https://h.example/api"), "https://h.example/api/chat/completions");
    EXPECT_EQ(urlOf("https://h.example/api/"), "https://h.example/api/chat/completions");
    EXPECT_EQ(urlOf("https://h.example/api//"), "https://h.example/api//chat/completions");
    EXPECT_EQ(urlOf("https://h.example"), "https://h.example/chat/completions");
    EXPECT_EQ(urlOf("  https://h.example/v1\n"), "https://h.example/v1/chat/completions");
    EXPECT_EQ(urlOf("https://h.example/v1/Chat/Completions"),
              "https://h.example/v1/Chat/Completions");
    EXPECT_EQ(urlOf("https://h.example/v1/chat/completions"),
              "https://h.example/v1/chat/completions");
    EXPECT_EQ(urlOf("https://h.example:8443/v1?key=1#frag"),
              "https://h.example:8443/v1/chat/completions?key=1#frag");
    EXPECT_EQ(urlOf("ftp://h.example/v1"), "ftp://h.example/v1/chat/completions")
        << "the scheme is not judged here";
    EXPECT_EQ(urlOf("https://h.example/v1?next=/a:b#x?y"),
              "https://h.example/v1/chat/completions?next=/a:b#x?y");
    const std::string longPath(1'000'000, 'a');
    EXPECT_EQ(urlOf("https://h.example/" + longPath),
              "https://h.example/" + longPath + "/chat/completions");
}

TEST(ChatCompletionsURL, EmptyAndUnparsableBasesAreRefused) {
    EXPECT_EQ(urlOf("   "), "error: API Base URL is empty.");
    EXPECT_EQ(urlOf("\n\u3000"), "error: API Base URL is empty.");
    EXPECT_EQ(urlOf("https://h.example/a b"), "error: API Base URL is invalid.");
    EXPECT_EQ(urlOf("https://h.example/%zz"), "error: API Base URL is invalid.");
    EXPECT_EQ(urlOf("1http://h.example"), "error: API Base URL is invalid.");
    EXPECT_EQ(urlOf("https://h.example/\xe4\xb8\xad"), "error: API Base URL is invalid.");
    const auto error = LLMRefiner::chatCompletionsURL("").error();
    EXPECT_EQ(error.kind(), KestruneError::Kind::llmFailed);
}

TEST(RefinementPrompt, NamesTheLanguageAndNumbersTheAlternatives) {
    EXPECT_EQ(LLMRefiner::refinementUserContent({"hello wold", {"hello world", "yellow world"}},
                                                AppLanguage::english),
              "Primary recognition language: English (en-US)\n\nBest transcript:\nhello wold\n\n"
              "Alternative transcripts:\n1. hello world\n2. yellow world");
    EXPECT_EQ(LLMRefiner::refinementUserContent({"你好", {}}, AppLanguage::simplifiedChinese),
              "Primary recognition language: 简体中文 (zh-CN)\n\nBest transcript:\n你好\n\n"
              "Alternative transcripts:\nNone");
}

TEST(RefinementPrompt, SystemPromptsHaveTheirLinesAndNoFinalLineFeed) {
    const auto lines = [](const std::string& text) {
        return std::count(text.begin(), text.end(), '\n') + 1;
    };
    EXPECT_EQ(lines(LLMRefiner::kRefinementSystemPrompt), 9);
    EXPECT_EQ(lines(LLMRefiner::kConnectionTestSystemPrompt), 8);
    EXPECT_NE(LLMRefiner::kRefinementSystemPrompt.back(), '\n');
    EXPECT_TRUE(LLMRefiner::kRefinementSystemPrompt.starts_with(
        "You are refining speech recognition output for a bilingual dictation app.\nBe "
        "extremely conservative.\n"));
    EXPECT_TRUE(LLMRefiner::kConnectionTestSystemPrompt.ends_with(
        "\nReturn only the corrected text, with no explanations."));
}

std::string decodedText(std::string_view body) {
    const auto decoded = LLMRefiner::decodeChatResponse(body);
    if (!decoded) return "error: " + decoded.error();
    if (decoded.value().choices.empty()) return "no choices";
    return decoded.value().choices.front().message.content.flattenedText();
}

TEST(ChatResponse, ContentIsAStringOrPartsAndUnknownKeysAreIgnored) {
    EXPECT_EQ(decodedText(R"({"id":"x","choices":[{"index":0,"message":{"role":"assistant",
              "content":"fixed","refusal":null},"finish_reason":"stop"}],"usage":{}})"),
              "fixed");
    EXPECT_EQ(decodedText(R"({"choices":[{"message":{"content":[{"type":"text","text":"Hello"},
              {"type":"image"},{"text":" world"},{"type":"text","text":null}]}}]})"),
              "Hello world");
    EXPECT_EQ(decodedText(R"({"choices":[]})"), "no choices");
    EXPECT_EQ(decodedText(R"({"choices":[{"message":{"role":null,"content":[]}}]})"), "");
}

TEST(ChatResponse, MissingOrMistypedRequiredPartsFail) {
    for (const char* body :
         {R"({})", R"({"choices":null})", R"({"choices":{}})", R"([])", R"("text")",
          R"({"choices":[{}]})", R"({"choices":[{"message":"hi"}]})",
          R"({"choices":[{"message":{"role":"assistant"}}]})",
          R"({"choices":[{"message":{"content":null}}]})",
          R"({"choices":[{"message":{"content":42}}]})",
          R"({"choices":[{"message":{"content":["a"]}}]})",
          R"({"choices":[{"message":{"content":[{"text":5}]}}]})",
          R"({"choices":[{"message":{"role":1,"content":"x"}}]})",
          R"({"choices":[{"message":{"content":"x"}}, 3]})",
          "{\"choices\":[{\"message\":{\"content\":\"\xff\"}}]}", "", "{"}) {
        EXPECT_TRUE(decodedText(body).starts_with("error: ")) << body;
    }
}

TEST(RefinementErrors, FollowTheInterfaceLanguageAndKeepTheServicesWords) {
    L10n::shared().setLanguageOverride("zh-Hans");
    const auto failed = LLMRefiner::interpretOutcome(
        HttpOutcome(HttpResponse{401, R"({"error":"bad key 100%s"})"}), "fallback");
    const auto empty = LLMRefiner::chatCompletionsURL(" ");
    L10n::shared().setLanguageOverride(std::nullopt);
    EXPECT_EQ(failed.error().description, R"(LLM 请求失败：{"error":"bad key 100%s"})");
    EXPECT_EQ(empty.error().localizedDescription(), "API 基础 URL 为空。");
}

// The refiner against a local stand-in for the service, through the real HTTP client.
class LLMRefinerExchange : public ::testing::Test {
  protected:
    // For the test of the time-out itself. Every other exchange gets the refiner's real time-out,
    // far beyond a local answer's time even with sanitizers on a busy machine.
    static constexpr std::chrono::milliseconds kShortTimeout{300};

    LLMConfiguration configuration(const std::string& base) const {
        return {base, "sk-test-key", "model-x", true};
    }
    LLMConfiguration configuration() const { return configuration(server.baseURL()); }

    LLMOutcome await(const std::function<void(const LLMRefiner&, LLMCompletion)>& start) {
        std::promise<LLMOutcome> promise;
        auto future = promise.get_future();
        start(refiner, [&](LLMOutcome outcome) {
            onMainQueue = mainQueue.isCurrent();
            promise.set_value(std::move(outcome));
        });
        // Only a hang guard, beyond the refiner's own time-out.
        if (future.wait_for(LLMRefiner::kRequestTimeout * 2) != std::future_status::ready) {
            throw std::runtime_error("no completion");
        }
        return future.get();
    }
    LLMOutcome refine(const SpeechCaptureResult& result, const LLMConfiguration& c) {
        return await([&](const LLMRefiner& r, LLMCompletion done) {
            r.refine(result, AppLanguage::english, c, std::move(done));
        });
    }
    LLMOutcome refine(const SpeechCaptureResult& result) { return refine(result, configuration()); }

    static std::string answer(const std::string& content) {
        return json::serialize(json::object{
            {"choices",
             json::array{json::object{
                 {"message", json::object{{"role", "assistant"}, {"content", content}}}}}}});
    }

    LocalChatServer server;
    SerialQueue mainQueue{"Kestrune.tests.main"};
    std::shared_ptr<CurlHttpClient> client = std::make_shared<CurlHttpClient>(mainQueue);
    LLMRefiner refiner{client, mainQueue};
    bool onMainQueue = false;
};

TEST_F(LLMRefinerExchange, SendsTheDocumentedRequestAndReturnsTheTrimmedAnswer) {
    server.answerNext(ScriptedAnswer::json(200, answer("  hello world \n")));
    const auto outcome = refine({"hello wold", {"hello world"}});
    ASSERT_TRUE(outcome.ok()) << outcome.error().description;
    EXPECT_EQ(outcome.value(), "hello world");
    EXPECT_TRUE(onMainQueue);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests.front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/v1/chat/completions");
    EXPECT_EQ(request.headers.at("content-type"), "application/json");
    EXPECT_EQ(request.headers.at("authorization"), "Bearer sk-test-key");

    const auto body = json::parse(request.body).as_object();
    EXPECT_EQ(body.at("model").as_string(), "model-x");
    ASSERT_TRUE(body.at("temperature").is_number());
    EXPECT_EQ(body.at("temperature").to_number<double>(), 0.0);
    const auto& messages = body.at("messages").as_array();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].at("role").as_string(), "system");
    EXPECT_EQ(messages[0].at("content").as_string(), LLMRefiner::kRefinementSystemPrompt);
    EXPECT_EQ(messages[1].at("role").as_string(), "user");
    EXPECT_EQ(messages[1].at("content").as_string(),
              "Primary recognition language: English (en-US)\n\nBest transcript:\nhello wold\n\n"
              "Alternative transcripts:\n1. hello world");
}

TEST_F(LLMRefinerExchange, AnswersReachTheMainQueueWhicheverQueueTheClientAnswersOn) {
    // The client of the application answers on its own thread, not on the refiner's main queue.
    SerialQueue httpQueue{"Kestrune.tests.http"};
    auto ownClient = std::make_shared<CurlHttpClient>(httpQueue);
    LLMRefiner separate(ownClient, mainQueue, kShortTimeout);
    const auto viaSeparate = [&](const LLMConfiguration& c) {
        return await([&](const LLMRefiner&, LLMCompletion done) {
            separate.refine({"x", {}}, AppLanguage::english, c, std::move(done));
        });
    };

    server.answerNext(ScriptedAnswer::json(200, answer("fine")));
    EXPECT_EQ(viaSeparate(configuration()).value(), "fine");
    EXPECT_TRUE(onMainQueue);

    onMainQueue = false;
    server.answerNext(ScriptedAnswer::closeEarly());
    EXPECT_EQ(viaSeparate(configuration()).error().kind, LLMRequestError::Kind::transport);
    EXPECT_TRUE(onMainQueue);
}

TEST_F(LLMRefinerExchange, PartsAreJoinedAndEmptyAnswersFallBackToTheTranscript) {
    server.answerNext(ScriptedAnswer::json(
        200, R"({"choices":[{"message":{"content":[{"type":"text","text":"Hello"},
                {"type":"text","text":" world"}]}}]})"));
    EXPECT_EQ(refine({"x", {}}).value(), "Hello world");

    server.answerNext(ScriptedAnswer::json(200, R"({"choices":[]})"));
    EXPECT_EQ(refine({"the transcript", {}}).value(), "the transcript");

    server.answerNext(ScriptedAnswer::json(200, answer(" \n\t ")));
    EXPECT_EQ(refine({"kept as is", {}}).value(), "kept as is");
}

TEST_F(LLMRefinerExchange, HttpErrorsCarryTheBodyOrTheStatus) {
    const std::string errorBody =
        R"({"error":{"message":"Incorrect API key provided","code":401}})";
    server.answerNext(ScriptedAnswer::json(401, errorBody));
    auto outcome = refine({"x", {}});
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::llm);
    EXPECT_EQ(outcome.error().description, "LLM request failed: " + errorBody);

    server.answerNext(ScriptedAnswer::json(401, "\xff\xfe not text"));
    outcome = refine({"x", {}});
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().description, "LLM request failed: HTTP 401");

    server.answerNext(ScriptedAnswer::json(503, ""));
    EXPECT_EQ(refine({"x", {}}).error().description, "LLM request failed: ");
}

TEST_F(LLMRefinerExchange, AnUnreadableSuccessIsADecodingError) {
    server.answerNext(
        ScriptedAnswer::json(200, "{\"choices\":[{\"message\":{\"content\":\"\xff\"}}]}"));
    auto outcome = refine({"x", {}});
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::decoding);

    server.answerNext(ScriptedAnswer::json(200, R"({"choices":[{"message":{"content":null}}]})"));
    outcome = refine({"x", {}});
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::decoding);
    EXPECT_FALSE(outcome.error().description.empty());
}

TEST_F(LLMRefinerExchange, TransportFailuresCarryTheTransportsOwnDescription) {
    server.answerNext(ScriptedAnswer::hold());
    const LLMRefiner hasty(client, mainQueue, kShortTimeout);
    auto outcome = await([&](const LLMRefiner&, LLMCompletion done) {
        hasty.refine({"x", {}}, AppLanguage::english, configuration(), std::move(done));
    });
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::transport);
    EXPECT_NE(outcome.error().description.find("timed out"), std::string::npos)
        << outcome.error().description;

    server.answerNext(ScriptedAnswer::closeEarly());
    outcome = refine({"x", {}});
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::transport);
    EXPECT_NE(outcome.error().description.find("Empty reply"), std::string::npos)
        << outcome.error().description;

    // A port nobody listens on (the server's, once it is gone).
    std::string closedBase;
    {
        LocalChatServer gone;
        closedBase = gone.baseURL();
    }
    outcome = refine({"x", {}}, configuration(closedBase));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::transport);
    EXPECT_NE(outcome.error().description.find("onnect"), std::string::npos)
        << outcome.error().description;
}

TEST_F(LLMRefinerExchange, BadBaseURLsFailWithoutARequestAndStillOnTheMainQueue) {
    auto outcome = refine({"x", {}}, configuration("  "));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().description, "API Base URL is empty.");
    EXPECT_TRUE(onMainQueue);

    outcome = refine({"x", {}}, configuration("http://127.0.0.1:1/a b"));
    EXPECT_EQ(outcome.error().description, "API Base URL is invalid.");

    // Other schemes are never spoken, so a local file cannot stand in for the service.
    outcome = refine({"x", {}}, configuration("file:///etc"));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().description, "The LLM endpoint did not return an HTTP response.");

    // Without a scheme nothing is guessed.
    outcome = refine({"x", {}}, configuration("127.0.0.1/v1"));
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::transport);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(LLMRefinerExchange, AKeyWithALineBreakNeverBecomesMoreHeaders) {
    // A key pasted with a line break must not split the request into headers of its choosing.
    for (const char* key : {"sk-a\r\nX-Injected: yes", "sk-a\nX-Injected: yes", "sk-a\r"}) {
        auto withBrokenKey = configuration();
        withBrokenKey.apiKey = key;
        server.answerNext(ScriptedAnswer::json(200, answer("sent")));
        const auto outcome = refine({"x", {}}, withBrokenKey);
        ASSERT_FALSE(outcome.ok()) << key;
        EXPECT_EQ(outcome.error().kind, LLMRequestError::Kind::transport);
        EXPECT_EQ(outcome.error().description.find("sk-a"), std::string::npos)
            << "the key is never part of the reason";
    }
    for (const auto& request : server.requests()) {
        EXPECT_EQ(request.headers.count("x-injected"), 0u);
    }
}

TEST_F(LLMRefinerExchange, ARedirectElsewhereIsFollowedWithoutTheKey) {
    LocalChatServer elsewhere;
    server.answerNext(ScriptedAnswer::redirect(307, elsewhere.baseURL("/moved/chat/completions")));
    elsewhere.answerNext(ScriptedAnswer::json(200, answer("from elsewhere")));
    EXPECT_EQ(refine({"x", {}}).value(), "from elsewhere");
    const auto moved = elsewhere.requests();
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].method, "POST");
    EXPECT_EQ(moved[0].target, "/moved/chat/completions");
    EXPECT_EQ(moved[0].headers.count("authorization"), 0u)
        << "the key is for the configured service only";
}

TEST_F(LLMRefinerExchange, TheConnectionTestUsesItsOwnPromptAndContent) {
    server.answerNext(ScriptedAnswer::json(200, answer("")));
    const auto outcome = await([&](const LLMRefiner& r, LLMCompletion done) {
        r.testConnection(configuration(server.baseURL("/v1/")), std::move(done));
    });
    EXPECT_EQ(outcome.value(), "测试 Python JSON");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/v1/chat/completions");
    const auto body = json::parse(requests[0].body);
    EXPECT_EQ(body.at("messages").at(0).at("content").as_string(),
              LLMRefiner::kConnectionTestSystemPrompt);
    EXPECT_EQ(body.at("messages").at(1).at("content").as_string(), "测试 Python JSON");
}

TEST_F(LLMRefinerExchange, ClosingTheClientAbortsExchangesAndDropsTheirCompletions) {
    server.answerNext(ScriptedAnswer::hold());
    bool completed = false;
    // Stands for what a completion holds of its owner, which must be let go by the time the
    // client is closed, not later on the exchange's own thread.
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> heldByCompletion = held;
    LLMRefiner patient(client, mainQueue, std::chrono::minutes(5));
    patient.refine({"x", {}}, AppLanguage::english, configuration(),
                   [&, held = std::move(held)](LLMOutcome) { completed = true; });
    // Wait until the server holds the request, so the abort interrupts a live exchange.
    while (server.requests().empty()) std::this_thread::yield();
    // The last holder of the client going away closes it.
    refiner = LLMRefiner(nullptr, mainQueue);
    patient = LLMRefiner(nullptr, mainQueue);
    client.reset();
    EXPECT_TRUE(heldByCompletion.expired());
    mainQueue.sync([] {});
    EXPECT_FALSE(completed);
}

}  // namespace
}  // namespace kestrune
