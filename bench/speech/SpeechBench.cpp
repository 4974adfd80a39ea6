// Prints figures for the recording path, then runs the level benchmark:
//   - end of audio (stop) to the final transcript, for a 5 s flite utterance played in real time
//     into the test server's null sink and recorded from its monitor;
//   - the decoder's real-time factor on the same utterance fed as fast as it can take it;
//   - peak resident memory of the process with the model loaded.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <thread>
#include <vector>

#include "Kestrune/dictation/speech/AudioLevel.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/pocketsphinx/PocketSphinxEngine.hpp"
#include "platform/linux/pulse/PulseAudioCapture.hpp"

namespace {

using namespace kestrune;
using Clock = std::chrono::steady_clock;

constexpr const char* kUtterance =
    "Please send the quarterly report to my manager before noon on Friday, and copy the "
    "whole team.";
constexpr int kRuns = 5;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The samples of a 16-bit mono WAV as floats.
std::vector<float> readWav(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto data = bytes.find("data");
    std::vector<float> samples;
    if (data == std::string::npos) return samples;
    for (std::size_t i = data + 8; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(
            static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        samples.push_back(static_cast<float>(sample) / 32768.0f);
    }
    return samples;
}

// Feeds a whole utterance to a recognition task at once; the time until its final result.
double decodeTime(PocketSphinxEngine& engine, const std::vector<float>& samples,
                  std::string& transcript) {
    auto done = std::make_shared<std::promise<std::string>>();
    auto task = engine.startTask({"en-US", {}}, {[done](SpeechRecognitionResult result) {
                                                     if (result.isFinal)
                                                         done->set_value(result.bestTranscript);
                                                 },
                                                 [done](KestruneError) { done->set_value("!"); }});
    const auto start = Clock::now();
    for (std::size_t at = 0; at < samples.size(); at += AudioCapture::kBufferFrames) {
        const std::size_t n = std::min(AudioCapture::kBufferFrames, samples.size() - at);
        task.value()->append(std::span(samples).subspan(at, n));
    }
    task.value()->endAudio();
    transcript = done->get_future().get();
    return milliseconds(Clock::now() - start);
}

void measureRecording() {
    const auto folder = std::filesystem::temp_directory_path() / "murrelo-speech-bench";
    std::filesystem::create_directories(folder);
    const auto raw = folder / "utterance-flite.wav";
    const auto wav = folder / "utterance.wav";
    const std::string make = "flite -voice slt -t '" + std::string(kUtterance) + "' -o '" +
                             raw.string() + "' && sox '" + raw.string() +
                             "' -r 16000 -c 1 -b 16 '" + wav.string() + "'";
    if (std::system(make.c_str()) != 0) {
        std::cerr << "flite and sox are needed\n";
        std::exit(1);
    }
    const auto samples = readWav(wav);
    const double audioSeconds = static_cast<double>(samples.size()) / 16'000.0;

    auto engine = std::make_shared<PocketSphinxEngine>();
    const auto loadStart = Clock::now();
    if (!engine->preload()) {
        std::cerr << "the pocketsphinx model cannot be loaded\n";
        std::exit(1);
    }
    std::printf("model load: %.0f ms\n", milliseconds(Clock::now() - loadStart));

    std::string transcript;
    double best = 1e9;
    for (int i = 0; i < kRuns; ++i) best = std::min(best, decodeTime(*engine, samples, transcript));
    std::printf("utterance: %.2f s of audio, decoded in %.0f ms: real-time factor %.3f\n",
                audioSeconds, best, best / 1000.0 / audioSeconds);
    std::printf("  \"%s\"\n", transcript.c_str());

    SerialQueue queue("Kestrune.bench.speech");
    std::unique_ptr<SpeechRecognizerService> service;
    queue.sync([&] {
        service = std::make_unique<SpeechRecognizerService>(SpeechRecognizerService::Dependencies{
            queue, [] { return std::make_unique<PulseAudioCapture>(); },
            [engine](AppLanguage) -> Result<std::shared_ptr<SpeechEngine>, KestruneError> {
                return std::shared_ptr<SpeechEngine>(engine);
            }});
    });
    std::vector<double> finishing;
    for (int i = 0; i < kRuns; ++i) {
        bool started = false;
        queue.sync([&] {
            started = service->start(AppLanguage::english, nullptr, nullptr, nullptr).ok();
        });
        if (!started) {
            std::cerr << "cannot record: run under scripts/with-test-services\n";
            std::exit(1);
        }
        std::system(("paplay '" + wav.string() + "'").c_str());
        // The monitor hands the last sound on about a quarter of a second later.
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        auto done = std::make_shared<std::promise<SpeechRecognizerService::StopOutcome>>();
        const auto stopAt = Clock::now();
        queue.sync([&] { service->stop([done](auto outcome) { done->set_value(outcome); }); });
        const auto outcome = done->get_future().get();
        finishing.push_back(milliseconds(Clock::now() - stopAt));
        if (i == 0 && outcome.ok())
            std::printf("  recorded: \"%s\"\n", outcome->transcript.c_str());
    }
    queue.sync([&] { service.reset(); });
    std::sort(finishing.begin(), finishing.end());
    std::printf("end of audio to final transcript: median %.0f ms, worst %.0f ms (%d runs)\n",
                finishing[finishing.size() / 2], finishing.back(), kRuns);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory with the model loaded: %.1f MB\n",
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::filesystem::remove_all(folder);
}

void BM_AudioLevel(benchmark::State& state) {
    std::vector<float> buffer(AudioCapture::kBufferFrames);
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<float>(i % 200) / 400;
    for (auto _ : state) benchmark::DoNotOptimize(audioLevel(buffer));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AudioLevel);

}  // namespace

int main(int argc, char** argv) {
    measureRecording();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
