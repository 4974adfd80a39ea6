// Prints figures for push-to-talk through the application's real services (run it under
// scripts/with-test-services: it holds Right Alt through XTest, plays into the test audio server
// and types into a Qt receiver):
//   - key release to the last character in the receiver, for a 5 s utterance, split into the
//     release reaching the coordinator, the recognizer finishing (settling included), and the
//     paste until the last character arrived (and until the clipboard was back, also counted
//     from the moment the paste key reached the receiver's window);
//   - the main queue's wake-ups while the coordinator watches the key and nothing is pressed
//     (none should come from it: no polling timer while idle), and with a key that cannot be
//     watched (the monitor retry, once a second), for contrast.
// `--short` does one round and shorter idle periods.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "app/Root.hpp"
#include "app/Services.hpp"
#include "bench/dictation/PasteKeyWatch.hpp"
#include "platform/linux/x11/OwnInjection.hpp"
#include "platform/linux/x11/TriggerKeyMonitor.hpp"
#include "tests/support/DictationFakes.hpp"
#include "tests/support/ReceiverProcess.hpp"
#include "tests/support/TemporaryDirectory.hpp"
#include "tests/support/TestAudio.hpp"

namespace {

using namespace kestrune;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using State = AppCoordinator::State;

constexpr int kRightAltKeycode = 108;
constexpr const char* kUtterance =
    "Please send the quarterly report to my manager before noon on Friday, and copy the "
    "whole team.";

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The application's main queue, counting the work it runs: each task is one wake-up of the
// main thread.
class CountingQueue final : public MainQueue {
  public:
    explicit CountingQueue(SerialQueue& inner) : inner_(inner) {}
    void post(std::function<void()> work) override { inner_.post(counted(std::move(work))); }
    TaskId postAfter(Duration delay, std::function<void()> work) override {
        return inner_.postAfter(delay, counted(std::move(work)));
    }
    void cancel(TaskId id) override { inner_.cancel(id); }
    bool isCurrent() const override { return inner_.isCurrent(); }
    long wakeUps() const { return wakeUps_.load(); }

  private:
    std::function<void()> counted(std::function<void()> work) {
        return [this, work = std::move(work)] {
            ++wakeUps_;
            work();
        };
    }
    SerialQueue& inner_;
    std::atomic<long> wakeUps_{0};
};

struct Marks {
    std::mutex lock;
    std::map<std::string, Clock::time_point> at;
    void mark(const std::string& name) {
        std::lock_guard guard(lock);
        at[name] = Clock::now();
    }
    Clock::time_point get(const std::string& name) {
        std::lock_guard guard(lock);
        return at[name];
    }
};

class Bench {
  public:
    Bench() : counting_(main_) {
        main_.sync([this] {
            services_ = std::make_unique<app::Services>(counting_,
                                                        app::Root::openSettings(settings_.path()));
            auto platform = services_->dictationPlatform();
            auto& settings = platform.settings;
            settings.setSelectedLanguage(AppLanguage::english);
            settings.setSpeechEngine(SpeechEnginePreference::builtIn);
            settings.setLLMEnabled(false);
            settings.setTriggerKey(TriggerKey::modifier(61));
            coordinator_ = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
                .main = counting_,
                .settings = settings.forDictation(),
                .triggerKeys = platform.triggerKeys,
                .speech = platform.speech,
                .permissions = platform.permissions,
                .refiner = platform.refiner,
                .panel = panel_,
                // As the application pastes, with the moments marked.
                .paste =
                    [this, &pasteQueue = platform.pasteQueue](std::string text,
                                                              AppCoordinator::PasteDone done) {
                        marks_.mark("transcript");
                        pasteQueue.enqueueDictation(
                            std::move(text), [this, done](Result<void, RemoteError> pasted) {
                                marks_.mark("pasted");
                                if (pasted) return done({});
                                done(KestruneError::pasteFailed("paste refused"));
                            });
                    },
                .isAccessibilityTrusted = platform.isAccessibilityTrusted,
            });
            watching_ = coordinator_->state().subscribe([this](State s) {
                if (s == State::stopping) marks_.mark("stopping");
            });
            coordinator_->start(false);
        });
    }
    ~Bench() {
        main_.sync([this] {
            watching_ = {};
            coordinator_.reset();
            services_.reset();
        });
    }

    State state() {
        State s{};
        main_.sync([&] { s = coordinator_->state().value(); });
        return s;
    }
    bool waitFor(State wanted, std::chrono::seconds limit = 60s) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (state() == wanted) return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    // One dictation into `receiver`; false when something did not happen.
    bool dictate(testing::ReceiverProcess& receiver, const bench::PasteKeyWatch& pasteKey,
                 const std::filesystem::path& wav, std::vector<double>& detect,
                 std::vector<double>& recognize, std::vector<double>& arrive,
                 std::vector<double>& restore, std::vector<double>& keyToRestore,
                 std::string& typed) {
        receiver.ask("clear");
        // Our key press comes through XTest like the paste's own keys, which the monitor ignores
        // for a short while after each paste; a user's keyboard is never taken for ours.
        std::this_thread::sleep_for(x11::OwnInjection::deliveryAllowance * 2);
        testing::fakeKey(kRightAltKeycode, true);
        if (!waitFor(State::recording)) {
            std::fprintf(stderr, "no recording began\n");
            return false;
        }
        testing::play(wav);
        // The test source hands the last sound on about a quarter of a second later.
        std::this_thread::sleep_for(400ms);
        const auto released = Clock::now();
        testing::fakeKey(kRightAltKeycode, false);
        // The last character: the whole transcript is in the receiver.
        std::string expected;
        const auto deadline = Clock::now() + 60s;
        Clock::time_point arrived{};
        while (Clock::now() < deadline) {
            if (expected.empty()) {
                if (marks_.get("transcript") > released) {
                    main_.sync([&] { expected = coordinator_->currentTranscript(); });
                } else if (Clock::now() - released > 100ms && state() == State::idle) {
                    std::fprintf(stderr, "the recognizer heard nothing\n");
                    return false;
                } else {
                    // Leave the processor to the recognizer.
                    std::this_thread::sleep_for(1ms);
                }
                continue;
            }
            if (receiver.text() == expected) {
                arrived = Clock::now();
                break;
            }
        }
        if (arrived == Clock::time_point{}) {
            std::fprintf(stderr, "expected \"%s\", the receiver has \"%s\"\n", expected.c_str(),
                         receiver.text().c_str());
            return false;
        }
        if (!waitFor(State::idle)) return false;
        typed = expected;
        detect.push_back(ms(marks_.get("stopping") - released));
        recognize.push_back(ms(marks_.get("transcript") - marks_.get("stopping")));
        arrive.push_back(ms(arrived - marks_.get("transcript")));
        restore.push_back(ms(marks_.get("pasted") - marks_.get("transcript")));
        if (pasteKey.last() > marks_.get("transcript")) {
            keyToRestore.push_back(ms(marks_.get("pasted") - pasteKey.last()));
        }
        return true;
    }

    // Main-queue wake-ups per second over `period` with nothing pressed, and the CPU time the
    // whole process used meanwhile.
    std::pair<double, double> idle(std::chrono::seconds period) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        const long start = counting_.wakeUps();
        std::this_thread::sleep_for(period);
        const long end = counting_.wakeUps();
        getrusage(RUSAGE_SELF, &after);
        const auto cpu = [](const rusage& u) {
            return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
                   static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
        };
        const double seconds = static_cast<double>(period.count());
        return {static_cast<double>(end - start) / seconds, (cpu(after) - cpu(before)) / seconds};
    }

    // Another client holds F5: the monitor cannot take it, says so once and waits for another key.
    void watchAKeyThatCannotBeTaken(x11::TriggerKeyMonitor& holder) {
        holder.setTriggerKey(TriggerKey::dedicatedKey(96));
        holder.start();
        main_.sync([this] { coordinator_->updateTriggerKey(TriggerKey::dedicatedKey(96)); });
    }

    SerialQueue main_{"Kestrune.bench.main"};

  private:
    CountingQueue counting_;
    // A settings database of the benchmark's own, never the user's.
    testing::TemporaryDirectory settings_{"dictation-bench-settings"};
    testing::RecordingPanelLog panel_;
    std::unique_ptr<app::Services> services_;
    std::unique_ptr<AppCoordinator> coordinator_;
    Subscription watching_;
    Marks marks_;
};

void printSeries(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("  %-44s median %7.1f ms   worst %7.1f ms\n", what, values[values.size() / 2],
                values.back());
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    if (!std::getenv("DISPLAY") || !std::getenv("MURRELO_IN_SERVICES")) {
        std::fprintf(stderr, "run under scripts/with-test-services\n");
        return 1;
    }
    L10n::shared().setLanguageOverride("en");
    const auto folder = std::filesystem::temp_directory_path() / "murrelo-dictation-bench";
    std::filesystem::create_directories(folder);
    const auto wav = testing::spokenSentence(folder, "utterance", kUtterance);

    auto receiver = testing::ReceiverProcess::startQt();
    if (!receiver || !receiver->focus()) {
        std::fprintf(stderr, "the Qt receiver did not start\n");
        return 1;
    }
    const int runs = quick ? 1 : 5;
    std::vector<double> detect, recognize, arrive, restore, keyToRestore, total;
    bench::PasteKeyWatch pasteKey(receiver->window());
    {
        Bench bench;
        std::printf("idle, watching Right Alt, nothing pressed:\n");
        const auto [wakeUps, cpu] = bench.idle(quick ? 2s : 10s);
        std::printf("  main-queue wake-ups %.2f per second, process CPU %.2f ms per second\n",
                    wakeUps, cpu);

        std::printf("key release to the last character, %d runs of a 5 s utterance:\n", runs);
        for (int i = 0; i < runs; ++i) {
            std::string typed;
            if (!bench.dictate(*receiver, pasteKey, wav, detect, recognize, arrive, restore,
                               keyToRestore, typed)) {
                std::fprintf(stderr, "run %d did not complete\n", i + 1);
                return 1;
            }
            total.push_back(detect.back() + recognize.back() + arrive.back());
            if (i == 0) std::printf("  typed: \"%s\"\n", typed.c_str());
        }
        printSeries("release -> last character", total);
        printSeries("  release reaches the coordinator", detect);
        printSeries("  recognizer finishing (settle + final)", recognize);
        printSeries("  paste -> last character in the receiver", arrive);
        printSeries("(paste -> clipboard restored)", restore);
        if (keyToRestore.empty()) {
            std::printf("  (the paste key was not seen at the receiver's window)\n");
        } else {
            printSeries("(paste key -> clipboard restored)", keyToRestore);
        }

        x11::TriggerKeyMonitor holder(bench.main_);
        bench.watchAKeyThatCannotBeTaken(holder);
        const auto [retryWakeUps, retryCpu] = bench.idle(quick ? 3s : 10s);
        std::printf("idle, the key held by another client (told once, not retried):\n");
        std::printf("  main-queue wake-ups %.2f per second, process CPU %.2f ms per second\n",
                    retryWakeUps, retryCpu);
        holder.stop();
    }
    std::filesystem::remove_all(folder);
    return 0;
}
