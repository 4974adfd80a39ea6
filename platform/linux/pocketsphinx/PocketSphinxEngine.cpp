#include "platform/linux/pocketsphinx/PocketSphinxEngine.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "Kestrune/dictation/speech/AudioCapture.hpp"
#include "Kestrune/dictation/speech/AudioSampleRing.hpp"
#include "Kestrune/dictation/speech/EnglishTextFormatter.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "pocketsphinx";
// Half a minute of audio: the decoder runs at a fraction of real time, so the ring normally holds
// one buffer; the slack covers the model loading during the first recording and a busy machine.
constexpr std::size_t kRingCapacity = 16'000 * 32;
// A partial transcript about four times a second: enough for the panel, and each one costs a
// backtrace through the search.
constexpr std::size_t kPartialIntervalSamples = 4'000;
// The n-best search grows with the utterance; a handful of entries give the three alternatives.
constexpr int kNBestEntries = 10;

// Spoken marks the general language model all but never predicts: from a flite voice "comma" came
// out as "common", "comment" or "come in", and "colon" as "no dylan", while "period", "question
// mark" and "new line" came through. Each is added as a word of its own whose unigram weight (a
// thousand times a uniform share) lets the sound decide; at that weight our test sentences with
// "common", "come on" and "colony" kept those words. The decoder's name for the word is turned
// back into the spoken one before the text is written.
struct AddedWord {
    std::string_view decoderName;
    const char* phones;
    std::string_view spoken;
};
constexpr std::array<AddedWord, 2> kAddedMarks = {{
    {"comma.mark", "K AA M AH", "comma"},
    {"colon.mark", "K OW L AH N", "colon"},
}};
constexpr float kAddedMarkWeight = 1000.0f;

void addSpokenMarks(ps_decoder_t* ps) {
    ngram_model_t* model = ps_get_lm(ps, "_default");
    if (!model) return;
    for (std::size_t i = 0; i < kAddedMarks.size(); ++i) {
        const std::string name(kAddedMarks[i].decoderName);
        ngram_model_add_word(model, name.c_str(), kAddedMarkWeight);
        // The search is rebuilt once, with the last word.
        ps_add_word(ps, name.c_str(), kAddedMarks[i].phones, i + 1 == kAddedMarks.size());
    }
}

KestruneError decoderFailure() {
    return KestruneError::recordingFailed(localized("The built-in speech recognizer failed."));
}

// The decoder's n-best strings carry sentence markers and fillers that are not words; what is
// left is written as text, the same way for partial, final and alternative transcripts.
std::string writtenText(const char* hypothesis) {
    std::istringstream words(hypothesis ? hypothesis : "");
    std::string word;
    std::string text;
    while (words >> word) {
        if (word.front() == '<' || word.front() == '[' || word.front() == '+') continue;
        // Pronunciation variants look like "read(2)".
        if (const auto paren = word.find('('); paren != std::string::npos && paren > 0) {
            word.resize(paren);
        }
        for (const auto& added : kAddedMarks) {
            if (word == added.decoderName) word = added.spoken;
        }
        if (!text.empty()) text += ' ';
        text += word;
    }
    return EnglishTextFormatter::written(text);
}

}  // namespace

struct PocketSphinxEngine::Decoder {
    std::mutex mutex;  // one utterance at a time
    cmd_ln_t* config = nullptr;
    ps_decoder_t* ps = nullptr;

    ~Decoder() {
        if (ps) ps_free(ps);
        if (config) cmd_ln_free_r(config);
    }
};

// One recording's decoding on its own thread. The thread holds what it uses, so that a
// cancelled recording's thread finishes the decoder's pass on its own while the main thread goes
// on; the engine joins it later.
struct PocketSphinxEngine::Decoding {
    explicit Decoding(SpeechRecognitionTask::Handlers h)
        : ring(kRingCapacity), handlers(std::move(h)) {}

    void wake() {
        wakeCount.fetch_add(1, std::memory_order_release);
        wakeCount.notify_one();
    }

    // Hands a result or an error over unless the recording was cancelled; once cancel() has
    // taken the lock, no handler runs any more.
    template <typename Call>
    void report(Call call) {
        std::lock_guard lock(reporting);
        if (!cancelled.load(std::memory_order_acquire)) call(handlers);
    }
    void fail() {
        report([](auto& h) { h.onError(decoderFailure()); });
    }

    void run(const std::shared_ptr<PocketSphinxEngine::Decoder>& decoder) {
        if (!decoder) return fail();
        std::lock_guard lock(decoder->mutex);
        ps_decoder_t* ps = decoder->ps;
        if (ps_start_utt(ps) < 0) return fail();
        std::array<float, AudioCapture::kBufferFrames> samples;
        std::array<int16, AudioCapture::kBufferFrames> pcm;
        std::size_t sinceLastPartial = 0;
        std::string lastPartial;
        while (true) {
            const std::uint32_t seen = wakeCount.load(std::memory_order_acquire);
            if (cancelled.load(std::memory_order_acquire)) {
                ps_end_utt(ps);
                return;
            }
            const std::size_t count = ring.read(samples);
            if (count > 0) {
                for (std::size_t i = 0; i < count; ++i) {
                    pcm[i] = static_cast<int16>(
                        std::lround(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f));
                }
                if (ps_process_raw(ps, pcm.data(), count, FALSE, FALSE) < 0) {
                    ps_end_utt(ps);
                    return fail();
                }
                sinceLastPartial += count;
                if (sinceLastPartial >= kPartialIntervalSamples) {
                    sinceLastPartial = 0;
                    std::string partial = writtenText(ps_get_hyp(ps, nullptr));
                    if (partial != lastPartial) {
                        lastPartial = partial;
                        report([&](auto& h) { h.onResult({partial, {partial}, false}); });
                    }
                }
                continue;
            }
            if (ended.load(std::memory_order_acquire)) break;
            wakeCount.wait(seen, std::memory_order_acquire);
        }
        if (ps_end_utt(ps) < 0) return fail();
        SpeechRecognitionResult final;
        final.isFinal = true;
        final.bestTranscript = writtenText(ps_get_hyp(ps, nullptr));
        // The first n-best entry is not always the decoder's best path, so that comes first.
        final.transcripts.push_back(final.bestTranscript);
        ps_nbest_t* nbest = ps_nbest(ps);
        for (int i = 0; nbest && i < kNBestEntries; ++i) {
            final.transcripts.push_back(writtenText(ps_nbest_hyp(nbest, nullptr)));
            nbest = ps_nbest_next(nbest);
        }
        if (nbest) ps_nbest_free(nbest);
        if (const auto dropped = ring.droppedCount(); dropped > 0) {
            log(LogLevel::warning, kLogCategory,
                "the decoder fell behind; samples dropped: " + std::to_string(dropped));
        }
        report([&](auto& h) { h.onResult(std::move(final)); });
    }

    AudioSampleRing ring;
    std::mutex reporting;
    SpeechRecognitionTask::Handlers handlers;
    std::atomic<bool> ended{false};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    std::atomic<std::uint32_t> wakeCount{0};
};

namespace {

class PocketSphinxTask final : public SpeechRecognitionTask {
  public:
    using Retire = std::function<void(std::thread, std::shared_ptr<PocketSphinxEngine::Decoding>)>;

    PocketSphinxTask(std::function<std::shared_ptr<PocketSphinxEngine::Decoder>()> decoder,
                     Handlers handlers, Retire retire)
        : decoding_(std::make_shared<PocketSphinxEngine::Decoding>(std::move(handlers))),
          retire_(std::move(retire)) {
        thread_ = std::thread([decoding = decoding_, decoder = std::move(decoder)] {
            decoding->run(decoder());
            decoding->finished.store(true, std::memory_order_release);
        });
    }

    ~PocketSphinxTask() override { cancel(); }

    void append(std::span<const float> samples) override {
        decoding_->ring.write(samples);
        decoding_->wake();
    }

    void endAudio() override {
        decoding_->ended.store(true, std::memory_order_release);
        decoding_->wake();
    }

    // Waits only for a hand-over in progress, never for the decoder: its last pass can take a
    // second on a busy machine.
    void cancel() override {
        {
            std::lock_guard lock(decoding_->reporting);
            decoding_->cancelled.store(true, std::memory_order_release);
        }
        decoding_->wake();
        if (thread_.joinable()) retire_(std::move(thread_), decoding_);
    }

  private:
    std::shared_ptr<PocketSphinxEngine::Decoding> decoding_;
    Retire retire_;
    std::thread thread_;
};

}  // namespace

PocketSphinxEngine::PocketSphinxEngine() : PocketSphinxEngine(Options{}) {}

PocketSphinxEngine::PocketSphinxEngine(Options options) : options_(std::move(options)) {}

PocketSphinxEngine::~PocketSphinxEngine() {
    std::lock_guard lock(retiredMutex_);
    for (auto& retired : retired_) retired.thread.join();
}

void PocketSphinxEngine::retire(std::thread thread, std::shared_ptr<Decoding> decoding) {
    std::lock_guard lock(retiredMutex_);
    // Those already done are joined at no cost; the others wait for a later recording or the end.
    std::erase_if(retired_, [](Retired& retired) {
        if (!retired.decoding->finished.load(std::memory_order_acquire)) return false;
        retired.thread.join();
        return true;
    });
    retired_.push_back({std::move(thread), std::move(decoding)});
}

bool PocketSphinxEngine::isAvailable(std::string_view locale) const {
    std::error_code ec;
    const auto& folder = options_.modelFolder;
    return locale == kLocale && std::filesystem::is_directory(folder / "en-us", ec) &&
           std::filesystem::is_regular_file(folder / "en-us.lm.bin", ec) &&
           std::filesystem::is_regular_file(folder / "cmudict-en-us.dict", ec);
}

std::shared_ptr<PocketSphinxEngine::Decoder> PocketSphinxEngine::decoder() {
    std::lock_guard lock(loadMutex_);
    if (decoder_) return decoder_;
    static std::once_flag quiet;
    // The decoder reports every step of its work; none of it is ours to show.
    std::call_once(quiet, [] { err_set_logfp(nullptr); });
    auto decoder = std::make_shared<Decoder>();
    const auto& folder = options_.modelFolder;
    // The decoder's second (flat) pass stays on although it runs after the end of audio (about
    // 0.1 s for six seconds of speech on an idle desktop, up to 0.8 s on a saturated one): without
    // it one word in twenty-five more of our test sentences came out wrong.
    decoder->config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (folder / "en-us").c_str(), "-lm",
                    (folder / "en-us.lm.bin").c_str(), "-dict",
                    (folder / "cmudict-en-us.dict").c_str(), "-samprate", "16000", nullptr);
    if (decoder->config) decoder->ps = ps_init(decoder->config);
    if (!decoder->ps) {
        log(LogLevel::error, kLogCategory, "cannot load the model in " + folder.string());
        return nullptr;
    }
    addSpokenMarks(decoder->ps);
    decoder_ = decoder;
    return decoder_;
}

bool PocketSphinxEngine::preload() {
    return decoder() != nullptr;
}

Result<std::unique_ptr<SpeechRecognitionTask>, KestruneError> PocketSphinxEngine::startTask(
    SpeechRecognitionRequest request, SpeechRecognitionTask::Handlers handlers) {
    if (!isAvailable(request.locale)) return KestruneError::recognizerUnavailable();
    // The model's vocabulary is fixed, so the contextual strings cannot bias it.
    return std::unique_ptr<SpeechRecognitionTask>(std::make_unique<PocketSphinxTask>(
        [this] { return decoder(); }, std::move(handlers),
        [this](std::thread thread, std::shared_ptr<PocketSphinxEngine::Decoding> decoding) {
            retire(std::move(thread), std::move(decoding));
        }));
}

}  // namespace kestrune
