#include "Kestrune/dictation/refine/LLMRefiner.hpp"

#include <boost/json.hpp>

#include <algorithm>
#include <cctype>

#include "KestruneRemoteKit/L10n/L10n.hpp"

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

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF.
bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t c = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if ((byte & 0xE0) == 0xC0) {
            length = 2, c = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3, c = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4, c = byte & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        constexpr char32_t kShortestForLength[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kShortestForLength[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

// The parts of a URL reference (scheme, authority, path, query, fragment), each kept
// percent-encoded as written.
struct UrlComponents {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    std::string text() const {
        std::string out;
        if (scheme) out += *scheme + ":";
        if (authority) out += "//" + *authority;
        out += path;
        if (query) out += "?" + *query;
        if (fragment) out += "#" + *fragment;
        return out;
    }
};

bool isUrlCharacter(unsigned char c) {
    return std::isalnum(c) ||
           std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(static_cast<char>(c)) !=
               std::string_view::npos;
}

// Accepts what a strict URL parser accepts: only URL characters, every "%" followed by two hex
// digits, a scheme of a letter then letters, digits, "+", "-" or ".".
std::optional<UrlComponents> parseUrl(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!isUrlCharacter(c)) return std::nullopt;
        if (c == '%' &&
            (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
             !std::isxdigit(static_cast<unsigned char>(text[i + 2])))) {
            return std::nullopt;
        }
    }
    // The generic split of a URL reference: scheme ":", "//" authority, path, "?" query,
    // "#" fragment.
    UrlComponents components;
    std::string_view rest = text;
    if (const auto colon = rest.find_first_of(":/?#");
        colon != std::string_view::npos && colon > 0 && rest[colon] == ':') {
        const auto scheme = rest.substr(0, colon);
        if (!std::isalpha(static_cast<unsigned char>(scheme[0])) ||
            !std::all_of(scheme.begin(), scheme.end(), [](unsigned char c) {
                return std::isalnum(c) || c == '+' || c == '-' || c == '.';
            })) {
            return std::nullopt;
        }
        components.scheme = std::string(scheme);
        rest.remove_prefix(colon + 1);
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto end = std::min(rest.find_first_of("/?#"), rest.size());
        components.authority = std::string(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
        components.fragment = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        components.query = std::string(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }
    components.path = std::string(rest);
    return components;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

// Decoding, in the shape of the public chat-completions reply. A key that may be absent may also
// be null; a key that is present with another kind of value is an error.
class DecodeFailure {
  public:
    explicit DecodeFailure(std::string what) : what_(std::move(what)) {}
    const std::string& what() const { return what_; }

  private:
    std::string what_;
};

const json::value& required(const json::object& object, std::string_view key,
                            std::string_view where) {
    const auto* value = object.if_contains(key);
    if (!value || value->is_null()) {
        throw DecodeFailure("The LLM response has no \"" + std::string(key) + "\" in " +
                            std::string(where) + ".");
    }
    return *value;
}

std::optional<std::string> optionalString(const json::object& object, std::string_view key,
                                          std::string_view where) {
    const auto* value = object.if_contains(key);
    if (!value || value->is_null()) return std::nullopt;
    if (!value->is_string()) {
        throw DecodeFailure("The LLM response's \"" + std::string(key) + "\" in " +
                            std::string(where) + " is not a string.");
    }
    return std::string(value->get_string());
}

const json::object& asObject(const json::value& value, std::string_view what) {
    if (!value.is_object()) {
        throw DecodeFailure("The LLM response's " + std::string(what) + " is not an object.");
    }
    return value.get_object();
}

LLMRefiner::ChatResponse::ContentValue decodeContent(const json::value& value) {
    if (value.is_string()) return {std::string(value.get_string())};
    if (!value.is_array()) {
        throw DecodeFailure(
            "The LLM response's message content is neither a string nor a list of parts.");
    }
    std::vector<LLMRefiner::ChatResponse::ContentPart> parts;
    for (const auto& element : value.get_array()) {
        const auto& part = asObject(element, "content part");
        parts.push_back({optionalString(part, "type", "a content part"),
                         optionalString(part, "text", "a content part")});
    }
    return {std::move(parts)};
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
    client_->send(std::move(request),
                  [completion = std::move(completion), fallback = std::move(fallback)](
                      HttpOutcome outcome) { completion(interpretOutcome(outcome, fallback)); });
}

Result<std::string, KestruneError> LLMRefiner::chatCompletionsURL(std::string_view baseURL) {
    const auto trimmed = trimmedWhitespaceAndNewlines(baseURL);
    if (trimmed.empty()) return KestruneError::llmFailed(localized("API Base URL is empty."));
    auto components = parseUrl(trimmed);
    const auto invalid = [] {
        return KestruneError::llmFailed(localized("API Base URL is invalid."));
    };
    if (!components) return invalid();

    if (!endsWithIgnoringCase(components->path, kCompletionsPath)) {
        if (!components->path.empty() && components->path.back() == '/') {
            components->path.pop_back();
        }
        components->path += kCompletionsPath;
    }
    // The forms a URL cannot take: a path not starting with "/" after an authority, or a path
    // starting with "//" without one (it would read as an authority).
    const auto& path = components->path;
    if (components->authority && !path.empty() && path.front() != '/') return invalid();
    if (!components->authority && path.rfind("//", 0) == 0) return invalid();
    return components->text();
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
    try {
        const auto& object = asObject(root, "body");
        const auto& choices = required(object, "choices", "the body");
        if (!choices.is_array())
            throw DecodeFailure("The LLM response's \"choices\" is not a list.");
        ChatResponse response;
        for (const auto& element : choices.get_array()) {
            const auto& choice = asObject(element, "choice");
            const auto& message = asObject(required(choice, "message", "a choice"), "message");
            response.choices.push_back(
                {{optionalString(message, "role", "a message"),
                  decodeContent(required(message, "content", "a message"))}});
        }
        return response;
    } catch (const DecodeFailure& failure) {
        return failure.what();
    }
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
        const std::string detail = isValidUtf8(response.body)
                                       ? response.body
                                       : "HTTP " + std::to_string(response.statusCode);
        return LLMRequestError{LLMRequestError::Kind::llm,
                               localizedFormat("LLM request failed: %s", {detail})};
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
