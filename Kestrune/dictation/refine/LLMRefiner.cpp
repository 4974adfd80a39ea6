#include "Kestrune/dictation/refine/LLMRefiner.hpp"

#include <boost/json.hpp>
#include <boost/url/parse.hpp>

#include <algorithm>
#include <cctype>

#include "Kestrune/common/Trimming.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/Utf8.hpp"

namespace kestrune {

namespace json = boost::json;

const std::string LLMRefiner::kRefinementSystemPrompt =
    "You are refining speech recognition output for a bilingual dictation app.\n"
    "Be extremely conservative.\n"
    "The speaker may mix Chinese with English technical terms.\n"
    "Keep the original wording, order, punctuation, spacing, and casing whenever they already "
    "look correct.\n"
    "Do not rewrite, polish, summarize, shorten, expand, or remove content.\n"
    "Only fix obvious speech recognition mistakes.\n"
    "You may consult alternative recognition candidates, but only use them when they clearly "
    "reveal a more accurate transcript.\n"
    "If the best transcript already looks correct, return it exactly as-is.\n"
    "Return only the corrected text, with no explanations.";

const std::string LLMRefiner::kConnectionTestSystemPrompt =
    "You are refining speech recognition output.\n"
    "Be extremely conservative.\n"
    "Only correct obvious speech recognition mistakes.\n"
    "Keep the original wording, order, punctuation, spacing, and casing whenever they already "
    "look correct.\n"
    "Do not rewrite, polish, summarize, shorten, expand, or remove content.\n"
    "Only fix clear recognition errors such as Chinese homophones or obvious technical terms "
    "mistranscribed into Chinese.\n"
    "If the input already looks correct, return it exactly as-is.\n"
    "Return only the corrected text, with no explanations.";

namespace {

constexpr std::string_view kCompletionsPath = "/chat/completions";

LLMRequestError llmError(std::string_view englishText) {
    return {LLMRequestError::Kind::llm, localized(englishText)};
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// Decoding, in the shape of the public chat-completions reply. A key that may be absent may also
// be null; a key that is present with another kind of value is an error. Each failure is the
// sentence shown as the decoding error.
template <typename T>
using Decoded = Result<T, std::string>;

Decoded<const json::value*> required(const json::object& object, std::string_view key,
                                     std::string_view where) {
    const auto* value = object.if_contains(key);
    if (!value || value->is_null()) {
        return "The LLM response has no \"" + std::string(key) + "\" in " + std::string(where) +
               ".";
    }
    return value;
}

Decoded<std::optional<std::string>> optionalString(const json::object& object, std::string_view key,
                                                   std::string_view where) {
    const auto* value = object.if_contains(key);
    if (!value || value->is_null()) return std::optional<std::string>();
    if (!value->is_string()) {
        return "The LLM response's \"" + std::string(key) + "\" in " + std::string(where) +
               " is not a string.";
    }
    return std::optional<std::string>(value->get_string());
}

Decoded<const json::object*> asObject(const json::value& value, std::string_view what) {
    if (!value.is_object()) {
        return "The LLM response's " + std::string(what) + " is not an object.";
    }
    return &value.get_object();
}

Decoded<LLMRefiner::ChatResponse::ContentValue> decodeContent(const json::value& value) {
    using ContentValue = LLMRefiner::ChatResponse::ContentValue;
    if (value.is_string()) return ContentValue{std::string(value.get_string())};
    if (!value.is_array()) {
        return std::string(
            "The LLM response's message content is neither a string nor a list of parts.");
    }
    std::vector<LLMRefiner::ChatResponse::ContentPart> parts;
    for (const auto& element : value.get_array()) {
        const auto part = asObject(element, "content part");
        if (!part) return part.error();
        auto type = optionalString(**part, "type", "a content part");
        if (!type) return type.error();
        auto text = optionalString(**part, "text", "a content part");
        if (!text) return text.error();
        parts.push_back({std::move(type).value(), std::move(text).value()});
    }
    return ContentValue{std::move(parts)};
}

Decoded<LLMRefiner::ChatResponse::Choice> decodeChoice(const json::value& element) {
    const auto choice = asObject(element, "choice");
    if (!choice) return choice.error();
    const auto messageValue = required(**choice, "message", "a choice");
    if (!messageValue) return messageValue.error();
    const auto message = asObject(**messageValue, "message");
    if (!message) return message.error();
    auto role = optionalString(**message, "role", "a message");
    if (!role) return role.error();
    const auto contentValue = required(**message, "content", "a message");
    if (!contentValue) return contentValue.error();
    auto content = decodeContent(**contentValue);
    if (!content) return content.error();
    return LLMRefiner::ChatResponse::Choice{{std::move(role).value(), std::move(content).value()}};
}

}  // namespace

std::string LLMRefiner::ChatResponse::ContentValue::flattenedText() const {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    std::string joined;
    for (const auto& part : std::get<std::vector<ContentPart>>(value)) {
        if (part.text) joined += *part.text;
    }
    return joined;
}

LLMRefiner::LLMRefiner(std::shared_ptr<HttpClient> client, MainQueue& mainQueue,
                       std::chrono::milliseconds timeout)
    : client_(std::move(client)), mainQueue_(&mainQueue), timeout_(timeout) {}

void LLMRefiner::refine(const SpeechCaptureResult& result, AppLanguage language,
                        const LLMConfiguration& configuration, LLMCompletion completion) const {
    performRequest(refinementUserContent(result, language), result.transcript, configuration,
                   kRefinementSystemPrompt, std::move(completion));
}

void LLMRefiner::testConnection(const LLMConfiguration& configuration,
                                LLMCompletion completion) const {
    performRequest(std::string(kConnectionTestContent), std::string(kConnectionTestContent),
                   configuration, kConnectionTestSystemPrompt, std::move(completion));
}

void LLMRefiner::performRequest(std::string userContent, std::string fallback,
                                const LLMConfiguration& configuration,
                                std::string_view systemPrompt, LLMCompletion completion) const {
    auto url = chatCompletionsURL(configuration.baseURL);
    if (!url) {
        mainQueue_->post(
            [completion = std::move(completion),
             error = LLMRequestError{LLMRequestError::Kind::llm,
                                     url.error().localizedDescription()}] { completion(error); });
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url.value());
    request.headers = {{"Content-Type", "application/json"},
                       {"Authorization", "Bearer " + configuration.apiKey}};
    request.body = encodeChatRequest(configuration.model, systemPrompt, userContent);
    request.timeout = timeout_;
    // The client answers on its own queue; the reading happens there, the completion on ours.
    client_->send(std::move(request), [mainQueue = mainQueue_, completion = std::move(completion),
                                       fallback = std::move(fallback)](HttpOutcome outcome) {
        mainQueue->post(
            [completion, outcome = interpretOutcome(outcome, fallback)] { completion(outcome); });
    });
}

Result<std::string, KestruneError> LLMRefiner::chatCompletionsURL(std::string_view baseURL) {
    const auto trimmed = trimmedWhitespaceAndNewlines(baseURL);
    if (trimmed.empty()) return KestruneError::llmFailed(localized("API Base URL is empty."));
    const auto invalid = [] {
        return KestruneError::llmFailed(localized("API Base URL is invalid."));
    };
    // Any URL reference is taken apart (a missing scheme is left for the HTTP client to refuse),
    // and every part but the path is kept as written.
    const auto parsed = boost::urls::parse_uri_reference(trimmed);
    if (!parsed) return invalid();
    const auto& url = *parsed;

    // Boost's views are copied by their bytes: each has several conversions to standard strings.
    const auto text = [](const auto& view) { return std::string(view.data(), view.size()); };
    std::string path = text(url.encoded_path());
    if (!endsWithIgnoringCase(path, kCompletionsPath)) {
        if (!path.empty() && path.back() == '/') path.pop_back();
        path += kCompletionsPath;
    }
    // The forms a URL cannot take: a path not starting with "/" after an authority, or a path
    // starting with "//" without one (it would read as an authority).
    if (url.has_authority() && !path.empty() && path.front() != '/') return invalid();
    if (!url.has_authority() && path.starts_with("//")) return invalid();

    std::string endpoint;
    if (url.has_scheme()) endpoint += text(url.scheme()) + ":";
    if (url.has_authority()) endpoint += "//" + text(url.encoded_authority());
    endpoint += path;
    if (url.has_query()) endpoint += "?" + text(url.encoded_query());
    if (url.has_fragment()) endpoint += "#" + text(url.encoded_fragment());
    return endpoint;
}

std::string LLMRefiner::refinementUserContent(const SpeechCaptureResult& result,
                                              AppLanguage language) {
    std::string alternatives;
    if (result.alternatives.empty()) {
        alternatives = "None";
    } else {
        for (std::size_t i = 0; i < result.alternatives.size(); ++i) {
            if (i > 0) alternatives += "\n";
            alternatives += std::to_string(i + 1) + ". " + result.alternatives[i];
        }
    }
    return "Primary recognition language: " + std::string(displayName(language)) + " (" +
           std::string(rawValue(language)) + ")\n\nBest transcript:\n" + result.transcript +
           "\n\nAlternative transcripts:\n" + alternatives;
}

std::string LLMRefiner::encodeChatRequest(std::string_view model, std::string_view systemPrompt,
                                          std::string_view userContent) {
    json::object body;
    body["model"] = model;
    body["temperature"] = 0;
    json::array messages;
    messages.push_back(json::object{{"role", "system"}, {"content", systemPrompt}});
    messages.push_back(json::object{{"role", "user"}, {"content", userContent}});
    body["messages"] = std::move(messages);
    return json::serialize(body);
}

Result<LLMRefiner::ChatResponse, std::string> LLMRefiner::decodeChatResponse(
    std::string_view body) {
    std::error_code ec;
    const json::value root = json::parse(body, ec);
    if (ec) return "The LLM response is not valid JSON (" + ec.message() + ").";
    const auto object = asObject(root, "body");
    if (!object) return object.error();
    const auto choices = required(**object, "choices", "the body");
    if (!choices) return choices.error();
    if (!(*choices)->is_array()) {
        return std::string("The LLM response's \"choices\" is not a list.");
    }
    ChatResponse response;
    for (const auto& element : (*choices)->get_array()) {
        auto choice = decodeChoice(element);
        if (!choice) return choice.error();
        response.choices.push_back(std::move(choice).value());
    }
    return response;
}

LLMOutcome LLMRefiner::interpretOutcome(const HttpOutcome& outcome, std::string_view fallback) {
    if (!outcome) {
        if (outcome.error().notHttp) {
            return llmError("The LLM endpoint did not return an HTTP response.");
        }
        return LLMRequestError{LLMRequestError::Kind::transport, outcome.error().description};
    }
    const auto& response = outcome.value();
    if (response.statusCode < 200 || response.statusCode > 299) {
        const std::string shown = detail::isValidUtf8(response.body)
                                      ? response.body
                                      : "HTTP " + std::to_string(response.statusCode);
        return LLMRequestError{LLMRequestError::Kind::llm,
                               localizedFormat("LLM request failed: %s", {shown})};
    }
    auto decoded = decodeChatResponse(response.body);
    if (!decoded) return LLMRequestError{LLMRequestError::Kind::decoding, decoded.error()};
    const auto& choices = decoded.value().choices;
    const std::string text =
        choices.empty() ? std::string() : choices.front().message.content.flattenedText();
    const auto trimmed = trimmedWhitespaceAndNewlines(text);
    return std::string(trimmed.empty() ? fallback : trimmed);
}

}  // namespace kestrune
