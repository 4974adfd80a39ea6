#include "Kestrune/dictation/speech/TranscriptionConnectionTest.hpp"

#include <vector>

namespace kestrune {

namespace {
// One second at the capture's 16 kHz: long enough for every service to accept it as audio.
constexpr std::size_t kSilenceSamples = 16'000;

// Keeps the engine and its task alive until the answer; released on the main queue afterwards,
// never inside the task's own callback.
struct Exchange {
    std::unique_ptr<OnlineSpeechEngine> engine;
    std::unique_ptr<SpeechRecognitionTask> task;
    std::function<void(Result<void, std::string>)> completion;
};
}  // namespace

void testTranscriptionConnection(std::shared_ptr<HttpClient> client, MainQueue& main,
                                 OnlineTranscriptionConfiguration configuration, std::string locale,
                                 std::function<void(Result<void, std::string>)> completion) {
    auto exchange = std::make_shared<Exchange>();
    exchange->completion = std::move(completion);
    exchange->engine = std::make_unique<OnlineSpeechEngine>(OnlineSpeechEngine::Dependencies{
        .client = std::move(client),
        .configuration = [configuration] { return configuration; },
    });
    const auto finish =
        [&main, weak = std::weak_ptr<Exchange>(exchange)](Result<void, std::string> outcome) {
            main.post([weak, outcome = std::move(outcome)]() mutable {
                auto held = weak.lock();
                if (!held || !held->completion) return;
                auto done = std::move(held->completion);
                held->task.reset();
                done(std::move(outcome));
            });
        };
    auto started = exchange->engine->startTask(
        SpeechRecognitionRequest{.locale = std::move(locale), .contextualStrings = {}},
        SpeechRecognitionTask::Handlers{
            // The exchange is held by the handlers until the answer, then dropped with the task.
            .onResult =
                [finish, exchange](const SpeechRecognitionResult& result) {
                    if (result.isFinal) finish({});
                },
            .onError = [finish,
                        exchange](KestruneError error) { finish(error.localizedDescription()); },
        });
    if (!started) {
        main.post([exchange, error = started.error()] {
            auto done = std::move(exchange->completion);
            exchange->engine.reset();
            if (done) done(error.localizedDescription());
        });
        return;
    }
    exchange->task = std::move(started).value();
    const std::vector<float> silence(kSilenceSamples, 0.0f);
    exchange->task->append(silence);
    exchange->task->endAudio();
}

}  // namespace kestrune
