// What a send and its acknowledgement cost with real files (each write is flushed to disk), how
// long the server's look-up of pending items takes with a full outbox, and how long a start-up load
// of a full outbox takes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

const Uuid kPhone = Uuid::parse("11111111-1111-4111-8111-111111111111").value();
const Uuid kOtherPhone = Uuid::parse("22222222-2222-4222-8222-222222222222").value();

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "outbox-bench-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path outbox() const { return path_ / "outbox"; }

  private:
    fs::path path_;
};

void fill(Outbox& outbox) {
    for (std::size_t i = 0; i < Outbox::kMaxItems; ++i) {
        outbox.enqueue(Outbox::Content::text(std::string(2000, 'x')), {kPhone, kOtherPhone});
    }
}

void BM_EnqueueThenAcknowledgeText(benchmark::State& state) {
    ScratchFolder folder;
    ManualMainQueue queue;
    auto outbox = Outbox::create(folder.outbox(), queue);
    const std::string text(static_cast<std::size_t>(state.range(0)), 'a');
    for (auto _ : state) {
        auto item = outbox->enqueue(Outbox::Content::text(text), {kPhone});
        benchmark::DoNotOptimize(outbox->acknowledge(item.value().id, kPhone));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnqueueThenAcknowledgeText)->Arg(100)->Arg(100'000)->Unit(benchmark::kMicrosecond);

void BM_EnqueuePicture(benchmark::State& state) {
    ScratchFolder folder;
    ManualMainQueue queue;
    auto outbox = Outbox::create(folder.outbox(), queue);
    const Bytes picture(static_cast<std::size_t>(state.range(0)), 0x5a);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            outbox->enqueue(Outbox::Content::image(picture, ImageFormat::jpeg), {kPhone}));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EnqueuePicture)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

void BM_PendingForAPhoneInAFullOutbox(benchmark::State& state) {
    ScratchFolder folder;
    ManualMainQueue queue;
    auto outbox = Outbox::create(folder.outbox(), queue);
    fill(*outbox);
    for (auto _ : state) benchmark::DoNotOptimize(outbox->pending(kPhone));
}
BENCHMARK(BM_PendingForAPhoneInAFullOutbox);

void BM_LoadAFullOutbox(benchmark::State& state) {
    ScratchFolder folder;
    ManualMainQueue queue;
    fill(*Outbox::create(folder.outbox(), queue));
    for (auto _ : state) benchmark::DoNotOptimize(Outbox::create(folder.outbox(), queue));
}
BENCHMARK(BM_LoadAFullOutbox)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune

BENCHMARK_MAIN();
