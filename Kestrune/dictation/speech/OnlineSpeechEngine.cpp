#include "Kestrune/dictation/speech/OnlineSpeechEngine.hpp"

#include <boost/json.hpp>
#include <boost/url/parse.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>

#include "Kestrune/common/Trimming.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace json = boost::json;

namespace {

constexpr std::string_view kLogCategory = "transcription";
constexpr std::string_view kTranscriptionsPath = "/audio/transcriptions";
constexpr std::uint32_t kSampleRate = 16'000;
// The margin between the request's own time-out and the service's last wait for it.
constexpr std::chrono::milliseconds kFinishingMargin{2'000};

void appendLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string randomBoundary() {
    std::random_device random;
    std::string boundary = "murrelo-";
    constexpr std::string_view kHex = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) boundary += kHex[random() % 16];
    return boundary;
}

KestruneError failed(std::string_view detail) {
    return KestruneError::recordingFailed(localizedFormat("Transcription failed: %s", {detail}));
}

class OnlineTask final : public SpeechRecognitionTask {
  public:
    OnlineTask(OnlineSpeechEngine::Dependencies dependencies, SpeechRecognitionRequest request,
               Handlers handlers)
        : dependencies_(std::move(dependencies)),
          request_(std::move(request)),
          handlers_(std::move(handlers)),
          // Default-initialised: the pages are only touched as audio arrives.
          samples_(new std::int16_t[OnlineSpeechEngine::kMaxRecordingSamples]) {}

    ~OnlineTask() override { cancel(); }

    void append(std::span<const float> samples) override {
        std::size_t count = count_.load(std::memory_order_relaxed);
        for (const float sample : samples) {
            if (count == OnlineSpeechEngine::kMaxRecordingSamples) break;
            samples_[count++] =
                static_cast<std::int16_t>(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
        }
        count_.store(count, std::memory_order_release);
    }

    void endAudio() override {
        const std::size_t count = count_.load(std::memory_order_acquire);
        if (count == 0) {
            handlers_.onResult({{}, {}, true});
            return;
        }
        if (count == OnlineSpeechEngine::kMaxRecordingSamples) {
            log(LogLevel::warning, kLogCategory,
                "the recording reached the upload limit; only its first ten minutes are sent");
        }
        if (!dependencies_.whenKeyKnown) return upload(count);
        // Sent without its key, the recording would only be refused; the task is gone when
        // `cancelled` is set (its destructor cancels it on this thread).
        dependencies_.whenKeyKnown(
            [this, count, cancelled = cancelled_](Result<void, std::string> key) {
                if (*cancelled) return;
                if (!key) return handlers_.onError(KestruneError::recordingFailed(key.error()));
                upload(count);
            });
    }

    void cancel() override { *cancelled_ = true; }

  private:
    void upload(std::size_t count) {
        const auto configuration = dependencies_.configuration();
        std::string prompt;
        for (const auto& term : request_.contextualStrings) {
            if (!prompt.empty()) prompt += ", ";
            prompt += term;
        }
        auto upload = OnlineSpeechEngine::uploadBody(
            OnlineSpeechEngine::wavFile({samples_.get(), count}, kSampleRate),
            trimmedWhitespaceAndNewlines(configuration.model), request_.locale, prompt,
            randomBoundary());
        samples_.reset();  // the recording now lives in the body

        HttpRequest http;
        http.method = "POST";
        http.url = OnlineSpeechEngine::transcriptionsURL(configuration.baseURL);
        http.headers = {{"Content-Type", upload.contentType}, {"Accept", "application/json"}};
        // A server of the user's own may need no key; an empty bearer would be refused.
        if (!configuration.apiKey.empty()) {
            http.headers.push_back({"Authorization", "Bearer " + configuration.apiKey});
        }
        http.body = std::move(upload.body);
        http.timeout = dependencies_.timeout;
        dependencies_.client->send(
            std::move(http), [cancelled = cancelled_, handlers = handlers_](HttpOutcome outcome) {
                if (*cancelled) return;
                auto text = OnlineSpeechEngine::interpretOutcome(outcome);
                if (text) {
                    handlers.onResult({text.value(), {text.value()}, true});
                } else {
                    log(LogLevel::warning, kLogCategory,
                        "no transcript: " + text.error().localizedDescription());
                    handlers.onError(text.error());
                }
            });
    }

    OnlineSpeechEngine::Dependencies dependencies_;
    SpeechRecognitionRequest request_;
    Handlers handlers_;
    std::unique_ptr<std::int16_t[]> samples_;
    std::atomic<std::size_t> count_{0};
    // Read and written on the main queue only: by cancel() and by the HTTP completion.
    std::shared_ptr<bool> cancelled_ = std::make_shared<bool>(false);
};

}  // namespace

bool OnlineTranscriptionConfiguration::isComplete() const {
    return !trimmedWhitespaceAndNewlines(baseURL).empty() &&
           !trimmedWhitespaceAndNewlines(model).empty() &&
           (apiKeyPending || !apiKey.empty() || !isHostedService(baseURL));
}

bool OnlineTranscriptionConfiguration::isHostedService(std::string_view baseURL) {
    const auto host = [](std::string_view url) -> std::string {
        const auto parsed = boost::urls::parse_uri(trimmedWhitespaceAndNewlines(url));
        if (!parsed) return {};
        std::string name = parsed->host();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name;
    };
    const auto hosted = host(OnlineSpeechEngine::kHostedServiceBaseURL);
    return host(baseURL) == hosted;
}

OnlineSpeechEngine::OnlineSpeechEngine(Dependencies dependencies)
    : dependencies_(std::move(dependencies)) {}

bool OnlineSpeechEngine::isAvailable(std::string_view locale) const {
    return appLanguageFromRawValue(locale).has_value() &&
           dependencies_.configuration().isComplete();
}

std::chrono::milliseconds OnlineSpeechEngine::finishingLimit() const {
    return dependencies_.timeout + kFinishingMargin;
}

Result<std::unique_ptr<SpeechRecognitionTask>, KestruneError> OnlineSpeechEngine::startTask(
    SpeechRecognitionRequest request, SpeechRecognitionTask::Handlers handlers) {
    if (!isAvailable(request.locale)) return KestruneError::recognizerUnavailable();
    return std::unique_ptr<SpeechRecognitionTask>(
        std::make_unique<OnlineTask>(dependencies_, std::move(request), std::move(handlers)));
}

std::string OnlineSpeechEngine::transcriptionsURL(std::string_view baseURL) {
    std::string url(trimmedWhitespaceAndNewlines(baseURL));
    if (url.ends_with(kTranscriptionsPath)) return url;
    if (url.ends_with('/')) url.pop_back();
    return url + std::string(kTranscriptionsPath);
}

std::string OnlineSpeechEngine::wavFile(std::span<const std::int16_t> samples,
                                        std::uint32_t sampleRate) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string wav;
    wav.reserve(44 + dataBytes);
    wav += "RIFF";
    appendLittleEndian(wav, 36 + dataBytes, 4);
    wav += "WAVEfmt ";
    appendLittleEndian(wav, 16, 4);  // format chunk size
    appendLittleEndian(wav, 1, 2);   // PCM
    appendLittleEndian(wav, 1, 2);   // mono
    appendLittleEndian(wav, sampleRate, 4);
    appendLittleEndian(wav, sampleRate * 2, 4);  // bytes per second
    appendLittleEndian(wav, 2, 2);               // bytes per frame
    appendLittleEndian(wav, 16, 2);              // bits per sample
    wav += "data";
    appendLittleEndian(wav, dataBytes, 4);
    for (const auto sample : samples)
        appendLittleEndian(wav, static_cast<std::uint16_t>(sample), 2);
    return wav;
}

OnlineSpeechEngine::Upload OnlineSpeechEngine::uploadBody(std::string_view wav,
                                                          std::string_view model,
                                                          std::string_view locale,
                                                          std::string_view prompt,
                                                          std::string_view boundary) {
    const std::string dashes = "--" + std::string(boundary);
    std::string body;
    body.reserve(wav.size() + 1024);
    const auto field = [&](std::string_view name, std::string_view value) {
        body += dashes + "\r\nContent-Disposition: form-data; name=\"" + std::string(name) +
                "\"\r\n\r\n" + std::string(value) + "\r\n";
    };
    body += dashes +
            "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"recording.wav\"\r\n"
            "Content-Type: audio/wav\r\n\r\n";
    body += wav;
    body += "\r\n";
    field("model", model);
    field("language", locale.substr(0, locale.find('-')));
    field("prompt", prompt);
    field("response_format", "json");
    body += dashes + "--\r\n";
    return {"multipart/form-data; boundary=" + std::string(boundary), std::move(body)};
}

Result<std::string, KestruneError> OnlineSpeechEngine::interpretOutcome(
    const HttpOutcome& outcome) {
    if (!outcome) {
        if (outcome.error().notHttp) {
            return KestruneError::recordingFailed(
                localized("The transcription service did not return an HTTP response."));
        }
        return failed(outcome.error().description);
    }
    const auto& response = outcome.value();
    std::error_code ec;
    const json::value root = json::parse(response.body, ec);
    const json::object* object = !ec && root.is_object() ? &root.get_object() : nullptr;
    if (response.statusCode < 200 || response.statusCode > 299) {
        // The services explain refusals as {"error": {"message": …}}.
        if (object) {
            if (const auto* error = object->if_contains("error"); error && error->is_object()) {
                if (const auto* message = error->get_object().if_contains("message");
                    message && message->is_string()) {
                    return failed(std::string(message->get_string()));
                }
            }
        }
        return failed("HTTP " + std::to_string(response.statusCode));
    }
    if (object) {
        if (const auto* text = object->if_contains("text"); text && text->is_string()) {
            return std::string(text->get_string());
        }
    }
    return KestruneError::recordingFailed(
        localized("The transcription service answered without a transcript."));
}

}  // namespace kestrune
