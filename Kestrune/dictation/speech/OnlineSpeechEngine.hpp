#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "Kestrune/dictation/speech/SpeechEngine.hpp"
#include "Kestrune/http/HttpClient.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Where and how to reach the online transcription service: the settings "transcriptionBaseURL"
// and "transcriptionModel", and the key kept in the Secret Service.
struct OnlineTranscriptionConfiguration {
    std::string baseURL;
    std::string apiKey;
    std::string model;
    // The key store has not answered yet: the key may yet come.
    bool apiKeyPending = false;

    // The address and the model filled in (after trimming), and a key unless the service is one
    // of the user's own (any other than the hosted default): a local OpenAI-compatible server
    // usually takes none, and then no Authorization header is sent.
    bool isComplete() const;
    // Whether the address is the hosted service that only answers with a key.
    static bool isHostedService(std::string_view baseURL);
    bool operator==(const OnlineTranscriptionConfiguration&) const = default;
};

// A recognizer behind an OpenAI-compatible `POST {base}/audio/transcriptions`: the recording is
// kept while the user speaks and sent as one 16 kHz mono 16-bit WAV when it ends; the answer is
// the final text, without partial results or alternatives. Serves every language of the app.
//
// Threading: main thread, except `append` of its tasks (the audio thread, which writes into
// memory reserved at the start and never waits). The HTTP client delivers on the main queue.
class OnlineSpeechEngine final : public SpeechEngine {
  public:
    // The hosted service asked by default; it refuses requests without a key.
    static constexpr std::string_view kHostedServiceBaseURL = "https://api.openai.com/v1";
    // Long enough for a minute of speech over a slow uplink; the user waits for it.
    static constexpr std::chrono::milliseconds kRequestTimeout{20'000};
    // Ten minutes: the services take files up to 25 MB, and 16 kHz 16-bit mono is 32 kB/s.
    // Reserved per recording as untouched memory, so only what is recorded is ever paged in.
    static constexpr std::size_t kMaxRecordingSamples = 16'000 * 600;

    struct Dependencies {
        // Completions on the main queue.
        std::shared_ptr<HttpClient> client;
        std::function<OnlineTranscriptionConfiguration()> configuration;
        std::chrono::milliseconds timeout = kRequestTimeout;
        // Runs its argument once the API key is known, or with why it could not be read; none:
        // the key in `configuration` is always known.
        std::function<void(std::function<void(Result<void, std::string>)>)> whenKeyKnown = {};
    };

    // The parts of one request body.
    struct Upload {
        std::string contentType;
        std::string body;
    };

    explicit OnlineSpeechEngine(Dependencies dependencies);

    bool isAvailable(std::string_view locale) const override;
    // The request's own limit ends the wait; the margin lets its error arrive first.
    std::chrono::milliseconds finishingLimit() const override;
    bool transcribesAfterRecording() const override { return true; }
    Result<std::unique_ptr<SpeechRecognitionTask>, KestruneError> startTask(
        SpeechRecognitionRequest request, SpeechRecognitionTask::Handlers handlers) override;

    // "{base}/audio/transcriptions", unless the base already ends with that path.
    static std::string transcriptionsURL(std::string_view baseURL);

    // A RIFF/WAVE file of 16-bit little-endian mono samples.
    static std::string wavFile(std::span<const std::int16_t> samples, std::uint32_t sampleRate);

    // The multipart form: file, model, language (ISO 639-1), prompt, response_format json.
    static Upload uploadBody(std::string_view wav, std::string_view model, std::string_view locale,
                             std::string_view prompt, std::string_view boundary);

    // The text of a successful answer, or a `recordingFailed` saying what went wrong.
    static Result<std::string, KestruneError> interpretOutcome(const HttpOutcome& outcome);

  private:
    Dependencies dependencies_;
};

}  // namespace kestrune
