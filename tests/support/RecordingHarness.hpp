#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Kestrune/dictation/speech/SpeechEngineSelector.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/pocketsphinx/PocketSphinxEngine.hpp"
#include "platform/linux/pulse/PulseAudioCapture.hpp"
#include "tests/support/WaitUntil.hpp"

namespace kestrune::testing {

// The real service over PulseAudio and pocketsphinx, run on a serial queue standing in for the
// main thread; what reaches its callbacks is collected for the test to look at.
class RecordingHarness {
  public:
    RecordingHarness() {
        // A stuck decoder shows as a missing final result, not as a slow machine.
        engine_ = std::make_shared<PocketSphinxEngine>(PocketSphinxEngine::Options{
            std::string(PocketSphinxEngine::kDefaultModelFolder), std::chrono::seconds(10)});
        engine_->preload();
        queue_.sync([this] {
            SpeechEngineSelector selector(
                {engine_, nullptr, [] { return SpeechEnginePreference::automatic; }});
            service_ =
                std::make_unique<SpeechRecognizerService>(SpeechRecognizerService::Dependencies{
                    queue_, [] { return std::make_unique<PulseAudioCapture>(); },
                    [selector](AppLanguage language) { return selector.recognizerFor(language); }});
        });
    }

    ~RecordingHarness() {
        queue_.sync([this] { service_.reset(); });
    }

    Result<void, KestruneError> start(AppLanguage language = AppLanguage::english) {
        std::optional<Result<void, KestruneError>> outcome;
        queue_.sync([&] {
            outcome = service_->start(
                language,
                [this](const std::string& text) {
                    std::lock_guard lock(mutex_);
                    transcripts_.push_back(text);
                },
                [this](float level) {
                    std::lock_guard lock(mutex_);
                    levels_.push_back(level);
                },
                [this](const KestruneError& error) {
                    std::lock_guard lock(mutex_);
                    errors_.push_back(error);
                });
        });
        return *outcome;
    }

    SpeechRecognizerService::StopOutcome stop() {
        auto promise = std::make_shared<std::promise<SpeechRecognizerService::StopOutcome>>();
        auto future = promise->get_future();
        queue_.sync([&] {
            service_->stop([promise](SpeechRecognizerService::StopOutcome outcome) {
                promise->set_value(std::move(outcome));
            });
        });
        if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "stop did not complete";
            std::abort();
        }
        return future.get();
    }

    // Waits (in real time, bounded) until the error callback ran or the limit passed.
    bool waitForError() {
        return waitUntil([this] { return !errors().empty(); });
    }

    // Waits until `count` more buffers than now went through the recognizer: each reaches it
    // before its level is posted here.
    bool waitForBuffers(std::size_t count) {
        const std::size_t target = levels().size() + count;
        return waitUntil([&] { return levels().size() >= target; });
    }

    template <typename Work>
    auto onQueue(Work work) {
        decltype(work()) value{};
        queue_.sync([&] { value = work(); });
        return value;
    }

    bool isRecording() {
        return onQueue([this] { return service_->isRecording(); });
    }

    std::vector<float> levels() const {
        std::lock_guard lock(mutex_);
        return levels_;
    }
    std::vector<std::string> transcripts() const {
        std::lock_guard lock(mutex_);
        return transcripts_;
    }
    std::vector<KestruneError> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        levels_.clear();
        transcripts_.clear();
        errors_.clear();
    }

  private:
    SerialQueue queue_{"Kestrune.test.speech"};
    std::shared_ptr<PocketSphinxEngine> engine_;
    std::unique_ptr<SpeechRecognizerService> service_;
    mutable std::mutex mutex_;
    std::vector<float> levels_;
    std::vector<std::string> transcripts_;
    std::vector<KestruneError> errors_;
};

}  // namespace kestrune::testing
