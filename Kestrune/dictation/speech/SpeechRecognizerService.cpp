#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"

#include <algorithm>
#include <utility>

#include "Kestrune/common/Trimming.hpp"
#include "Kestrune/dictation/speech/AudioInputRouteReadiness.hpp"
#include "Kestrune/dictation/speech/AudioLevel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

const std::vector<std::string> kCommonTerms = {
    "API",        "API Key",      "OpenAI",  "ChatGPT",   "Python",  "JSON",    "JavaScript",
    "TypeScript", "Swift",        "SwiftUI", "Xcode",     "macOS",   "iOS",     "Git",
    "GitHub",     "pull request", "commit",  "branch",    "merge",   "rebase",  "Docker",
    "Kubernetes", "PostgreSQL",   "MySQL",   "Redis",     "Node.js", "npm",     "pnpm",
    "URL",        "HTTP",         "HTTPS",   "WebSocket", "SSE",     "VS Code", "Cursor",
    "Claude",     "prompt",       "token",   "model",     "debug",   "log"};

const std::vector<std::string> kEnglishTerms = {"中文", "简体中文", "繁体中文"};

const std::vector<std::string> kMixedLanguageTerms = {
    "Python 脚本",       "JSON 配置",   "API key",      "GitHub 仓库",
    "pull request 描述", "commit hash", "SwiftUI 视图", "Xcode 工程",
    "VS Code 插件",      "Docker 镜像", "OpenAI 模型",  "prompt 优化"};

}  // namespace

SpeechRecognizerService::SpeechRecognizerService(Dependencies dependencies)
    : mainQueue_(dependencies.mainQueue),
      makeCapture_(std::move(dependencies.makeCapture)),
      recognizerFor_(std::move(dependencies.recognizerFor)),
      capture_(makeCapture_()) {}

SpeechRecognizerService::~SpeechRecognizerService() {
    // Threads first, so nothing posts any more; work already posted is guarded by the lifetime
    // and does nothing once the service is gone.
    if (capture_) capture_->stop();
    if (task_) task_->cancel();
    if (stopDeadline_) mainQueue_.cancel(*stopDeadline_);
}

std::vector<std::string> SpeechRecognizerService::contextualStrings(AppLanguage language) {
    std::vector<std::string> strings = kCommonTerms;
    const auto& second = language == AppLanguage::english ? kEnglishTerms : kMixedLanguageTerms;
    strings.insert(strings.end(), second.begin(), second.end());
    return strings;
}

std::vector<std::string> SpeechRecognizerService::uniqueAlternatives(
    const std::vector<std::string>& transcripts) {
    std::vector<std::string> unique;
    for (const auto& transcript : transcripts) {
        const std::string trimmed(trimmedWhitespaceAndNewlines(transcript));
        if (trimmed.empty() || std::find(unique.begin(), unique.end(), trimmed) != unique.end()) {
            continue;
        }
        unique.push_back(trimmed);
        if (unique.size() == kMaxAlternatives) break;
    }
    return unique;
}

template <typename Work>
void SpeechRecognizerService::postForAttempt(std::uint64_t attempt, Work work) {
    mainQueue_.post(lifetime_.guard([this, attempt, work = std::move(work)] {
        if (attempt != attempt_) return;
        work();
    }));
}

Result<void, KestruneError> SpeechRecognizerService::start(AppLanguage language,
                                                           TranscriptHandler onTranscript,
                                                           AudioLevelHandler onAudioLevel,
                                                           ErrorHandler onError) {
    stopImmediately();

    auto engine = recognizerFor_(language);
    if (!engine) return engine.error();
    if (!engine.value() || !engine.value()->isAvailable(rawValue(language))) {
        return KestruneError::recognizerUnavailable();
    }

    transcriptHandler_ = std::move(onTranscript);
    audioLevelHandler_ = std::move(onAudioLevel);
    errorHandler_ = std::move(onError);
    currentTranscript_.clear();
    currentAlternatives_.clear();
    engine_ = std::move(engine).value();
    policy_.status = Status::starting;
    const std::uint64_t attempt = attempt_;

    const auto fail = [this](KestruneError error) -> Result<void, KestruneError> {
        stopImmediately();
        return error;
    };

    SpeechRecognitionTask::Handlers taskHandlers{
        [this, attempt](SpeechRecognitionResult result) {
            postForAttempt(attempt, [this, result = std::move(result)] { handleResult(result); });
        },
        [this, attempt](KestruneError error) {
            postForAttempt(attempt, [this, error = std::move(error)] { handleEngineError(error); });
        }};
    auto task = engine_->startTask({std::string(rawValue(language)), contextualStrings(language)},
                                   std::move(taskHandlers));
    if (!task) return fail(task.error());
    task_ = std::move(task).value();

    // The capture is stopped before the task goes, so the audio thread never sees a dead task.
    AudioCapture::Handlers captureHandlers{
        [this, task = task_.get(), attempt](std::span<const float> samples) {
            task->append(samples);
            postForAttempt(attempt, [this, level = audioLevel(samples)] {
                if (audioLevelHandler_) audioLevelHandler_(level);
            });
        },
        [this, attempt](AudioCapture::Interruption interruption) {
            postForAttempt(attempt, [this, interruption] { handleInterruption(interruption); });
        }};
    auto formats = capture_->start(std::move(captureHandlers));
    if (!formats) return fail(formats.error());
    if (auto ready = AudioInputRouteReadiness::validate(formats->delivered, formats->requested);
        !ready) {
        return fail(ready.error());
    }

    isRecording_ = true;
    policy_.status = Status::recording;
    return {};
}

void SpeechRecognizerService::handleResult(const SpeechRecognitionResult& result) {
    // Results count in every status: those arriving while stopping are what the settling is for.
    currentTranscript_ = result.bestTranscript;
    currentAlternatives_ = uniqueAlternatives(result.transcripts);
    if (transcriptHandler_) transcriptHandler_(currentTranscript_);
    if (result.isFinal && policy_.status == Status::stopping) finishStop({});
}

void SpeechRecognizerService::handleEngineError(const KestruneError& error) {
    if (audioLevelHandler_) audioLevelHandler_(0.0f);
    if (policy_.reportsFailures()) {
        reportFailure(error);
    } else if (policy_.status == Status::stopping) {
        // An engine that works after the recording has only this way to say it failed; for one
        // that listens along, what it gathered before the error stands.
        finishStop(engine_->transcribesAfterRecording() ? Result<void, KestruneError>(error)
                                                        : Result<void, KestruneError>());
    }
}

void SpeechRecognizerService::handleInterruption(AudioCapture::Interruption interruption) {
    if (!policy_.reportsFailures()) return;
    reportFailure(KestruneError::recordingFailed(
        interruption == AudioCapture::Interruption::serverLost
            ? localized("The audio server stopped during the recording. Please try again.")
            : localized("Audio input changed. Please try again.")));
}

void SpeechRecognizerService::reportFailure(const KestruneError& error) {
    policy_.status = Status::idle;
    auto handler = std::move(errorHandler_);
    stopImmediately();
    if (handler) handler(error);
}

void SpeechRecognizerService::stop(StopCompletion completion) {
    if (!isRecording_) {
        mainQueue_.post([completion = std::move(completion),
                         result = SpeechCaptureResult{currentTranscript_, currentAlternatives_}] {
            completion(result);
        });
        return;
    }
    stopCompletions_.push_back(std::move(completion));
    if (policy_.status != Status::recording) return;  // already stopping: one outcome for all

    policy_.status = Status::stopping;
    capture_->stop();
    task_->endAudio();
    if (audioLevelHandler_) audioLevelHandler_(0.0f);
    const auto limit = std::max<Duration>(kSettlingTime, engine_->finishingLimit());
    stopDeadline_ = mainQueue_.postAfter(limit, lifetime_.guard([this, attempt = attempt_] {
        if (attempt != attempt_) return;
        stopDeadline_.reset();
        finishStop({});
    }));
}

void SpeechRecognizerService::finishStop(Result<void, KestruneError> outcome) {
    SpeechCaptureResult result{currentTranscript_, currentAlternatives_};
    auto completions = std::move(stopCompletions_);
    stopCompletions_.clear();
    teardown();
    for (auto& completion : completions) {
        if (!outcome) {
            completion(outcome.error());
        } else {
            completion(result);
        }
    }
}

void SpeechRecognizerService::stopImmediately() {
    if (stopCompletions_.empty()) {
        teardown();
        return;
    }
    // A stop still settling ends early with what it has, as if its wait had run out.
    auto completions = std::move(stopCompletions_);
    stopCompletions_.clear();
    SpeechCaptureResult result{currentTranscript_, currentAlternatives_};
    teardown();
    for (auto& completion : completions) {
        mainQueue_.post([completion = std::move(completion), result] { completion(result); });
    }
}

void SpeechRecognizerService::teardown() {
    if (stopDeadline_) {
        mainQueue_.cancel(*stopDeadline_);
        stopDeadline_.reset();
    }
    if (capture_) capture_->stop();
    if (task_) {
        task_->cancel();
        task_.reset();
    }
    engine_.reset();
    transcriptHandler_ = nullptr;
    audioLevelHandler_ = nullptr;
    errorHandler_ = nullptr;
    currentAlternatives_.clear();
    isRecording_ = false;
    policy_.status = Status::idle;
    ++attempt_;
    capture_ = makeCapture_();
}

std::string SpeechRecognizerService::transcribingText() {
    return localized("Transcribing…");
}

bool SpeechRecognizerService::isTranscribing() const {
    return policy_.status == Status::stopping && engine_ && engine_->transcribesAfterRecording();
}

}  // namespace kestrune
