#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/common/KestruneError.hpp"
#include "Kestrune/dictation/SpeechCaptureResult.hpp"
#include "Kestrune/dictation/refine/LLMConfiguration.hpp"
#include "Kestrune/http/HttpClient.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Why a chat-completions exchange gave no text. `llm` errors are our own messages (shown as
// `KestruneError::llmFailed`); transport and decoding errors carry the description of the layer
// that failed, as it stands.
struct LLMRequestError {
    enum class Kind { llm, transport, decoding };
    Kind kind;
    std::string description;

    KestruneError asKestruneError() const { return KestruneError::llmFailed(description); }
    bool operator==(const LLMRequestError&) const = default;
};

using LLMOutcome = Result<std::string, LLMRequestError>;
using LLMCompletion = std::function<void(LLMOutcome)>;

// Corrects a finished transcript with a chat-completions model, and tests the connection for the
// settings window. Holds no state of its own: copies share the HTTP client. Every completion runs
// on the main queue, never inside the call that started it.
class LLMRefiner {
  public:
    static constexpr std::chrono::milliseconds kRequestTimeout{25'000};

    static const std::string kRefinementSystemPrompt;
    static const std::string kConnectionTestSystemPrompt;
    static constexpr std::string_view kConnectionTestContent = "测试 Python JSON";

    struct ChatResponse {
        struct ContentPart {
            std::optional<std::string> type;
            std::optional<std::string> text;
        };
        struct ContentValue {
            std::variant<std::string, std::vector<ContentPart>> value;
            // The text itself, or the texts of the parts joined without separator.
            std::string flattenedText() const;
        };
        struct Message {
            std::optional<std::string> role;
            ContentValue content;
        };
        struct Choice {
            Message message;
        };
        std::vector<Choice> choices;
    };

    LLMRefiner(std::shared_ptr<HttpClient> client, MainQueue& mainQueue,
               std::chrono::milliseconds timeout = kRequestTimeout);

    // The refined transcript; the transcript itself when the model answers with nothing.
    void refine(const SpeechCaptureResult& result, AppLanguage language,
                const LLMConfiguration& configuration, LLMCompletion completion) const;

    // One exchange: the trimmed answer, or `fallback` when it is empty.
    void performRequest(std::string userContent, std::string fallback,
                        const LLMConfiguration& configuration, std::string_view systemPrompt,
                        LLMCompletion completion) const;

    void testConnection(const LLMConfiguration& configuration, LLMCompletion completion) const;

    // The endpoint for a base URL: "/chat/completions" appended unless the path ends with it.
    static Result<std::string, KestruneError> chatCompletionsURL(std::string_view baseURL);

    // The user message for one recording: language, best transcript and alternatives.
    static std::string refinementUserContent(const SpeechCaptureResult& result,
                                             AppLanguage language);

    static std::string encodeChatRequest(std::string_view model, std::string_view systemPrompt,
                                         std::string_view userContent);

    // Fails with a description of what is missing or of the wrong kind.
    static Result<ChatResponse, std::string> decodeChatResponse(std::string_view body);

    // What an HTTP outcome means for the user: the answer, the fallback, or an error.
    static LLMOutcome interpretOutcome(const HttpOutcome& outcome, std::string_view fallback);

  private:
    std::shared_ptr<HttpClient> client_;
    MainQueue* mainQueue_;
    std::chrono::milliseconds timeout_;
};

}  // namespace kestrune
