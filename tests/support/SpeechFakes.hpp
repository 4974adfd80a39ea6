#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "Kestrune/dictation/speech/AudioCapture.hpp"
#include "Kestrune/dictation/speech/SpeechEngine.hpp"

namespace kestrune::testing {

// Stand-ins for the audio capture and a recognizer, driven by the test on its own thread: what
// the real ones would do on their threads, the test does by calling the stored handlers.

struct FakeCaptureLog {
    int made = 0;
    int started = 0;
    int stopped = 0;
    AudioCapture::Handlers handlers;
    AudioCapture::Formats formats{AudioCapture::kClientFormat, AudioCapture::kClientFormat};
    std::optional<KestruneError> startFailure;
};

class FakeAudioCapture final : public AudioCapture {
  public:
    explicit FakeAudioCapture(std::shared_ptr<FakeCaptureLog> log) : log_(std::move(log)) {
        ++log_->made;
    }
    Result<Formats, KestruneError> start(Handlers handlers) override {
        ++log_->started;
        if (log_->startFailure) return *log_->startFailure;
        log_->handlers = std::move(handlers);
        return log_->formats;
    }
    void stop() override {
        ++log_->stopped;
        log_->handlers = {};
    }

  private:
    std::shared_ptr<FakeCaptureLog> log_;
};

struct FakeTaskLog {
    std::vector<SpeechRecognitionRequest> requests;
    SpeechRecognitionTask::Handlers handlers;
    std::size_t samplesAppended = 0;
    bool audioEnded = false;
    int cancelled = 0;
};

class FakeSpeechEngine final : public SpeechEngine {
  public:
    std::shared_ptr<FakeTaskLog> log = std::make_shared<FakeTaskLog>();
    bool available = true;
    // Serves only this locale when set.
    std::optional<std::string> onlyLocale;
    bool afterRecording = false;
    std::chrono::milliseconds limit{0};

    bool isAvailable(std::string_view locale) const override {
        return available && (!onlyLocale || *onlyLocale == locale);
    }
    std::chrono::milliseconds finishingLimit() const override { return limit; }
    bool transcribesAfterRecording() const override { return afterRecording; }

    Result<std::unique_ptr<SpeechRecognitionTask>, KestruneError> startTask(
        SpeechRecognitionRequest request, SpeechRecognitionTask::Handlers handlers) override {
        log->requests.push_back(std::move(request));
        log->handlers = std::move(handlers);
        log->audioEnded = false;
        return std::unique_ptr<SpeechRecognitionTask>(std::make_unique<Task>(log));
    }

  private:
    class Task final : public SpeechRecognitionTask {
      public:
        explicit Task(std::shared_ptr<FakeTaskLog> log) : log_(std::move(log)) {}
        void append(std::span<const float> samples) override {
            log_->samplesAppended += samples.size();
        }
        void endAudio() override { log_->audioEnded = true; }
        void cancel() override {
            ++log_->cancelled;
            log_->handlers = {};
        }

      private:
        std::shared_ptr<FakeTaskLog> log_;
    };
};

}  // namespace kestrune::testing
