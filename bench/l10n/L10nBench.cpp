// Cost of a text lookup: every menu rebuild and status line looks up its texts at the moment it is
// shown, from any thread, under one lock.
#include <benchmark/benchmark.h>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace {

void setLanguage(const char* language) {
    kestrune::L10n::shared().setLanguageOverride(language);
}

void BM_LocalizedHit(benchmark::State& state) {
    setLanguage("zh-Hans");
    for (auto _ : state) benchmark::DoNotOptimize(kestrune::localized("Phone Connection"));
}
BENCHMARK(BM_LocalizedHit);

void BM_LocalizedMissingKey(benchmark::State& state) {
    setLanguage("zh-Hans");
    for (auto _ : state) benchmark::DoNotOptimize(kestrune::localized("A text that no table has"));
}
BENCHMARK(BM_LocalizedMissingKey);

void BM_LocalizedFormat(benchmark::State& state) {
    setLanguage("zh-Hans");
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            kestrune::localizedFormat("Port %d was taken by another app, so it is now on port %d. "
                                      "Paired phones must scan a new "
                                      "pairing code to reconnect.",
                                      {49999, 50000}));
    }
}
BENCHMARK(BM_LocalizedFormat);

// The first lookup after a language switch chooses the table again (the loaded tables stay).
void BM_LookupAfterLanguageSwitch(benchmark::State& state) {
    bool chinese = false;
    for (auto _ : state) {
        setLanguage((chinese = !chinese) ? "zh-Hans" : "en");
        benchmark::DoNotOptimize(kestrune::localized("Phone Connection"));
    }
}
BENCHMARK(BM_LookupAfterLanguageSwitch);

void BM_LocalizedContended(benchmark::State& state) {
    if (state.thread_index() == 0) setLanguage("zh-Hans");
    for (auto _ : state) benchmark::DoNotOptimize(kestrune::localized("Phone Connection"));
}
BENCHMARK(BM_LocalizedContended)->Threads(2)->Threads(4);

}  // namespace

BENCHMARK_MAIN();
