// Throughput of the wire codec, in bytes of message text per second.

#include <benchmark/benchmark.h>

#include "KestruneRemoteKit/Protocol/Base64.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {
namespace {

// The picture chunk size phones send.
constexpr std::size_t kChunkBytes = 64 * 1024;

RemoteMessage textMessage() {
    return RemoteMessage::Text{"Meeting moved to 3 pm \xE2\x80\x94 see https://example.org/agenda"};
}

RemoteMessage chunkMessage() {
    Bytes data(kChunkBytes);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    return RemoteMessage::ImageChunk{"4C1B7E2A-93D1-4F5E-8A0C-2B7D9E1F3A64", 17, std::move(data)};
}

void encode(benchmark::State& state, const RemoteMessage& message) {
    const std::size_t size = message.encoded().value().size();
    for (auto _ : state) {
        auto text = message.encoded();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void decode(benchmark::State& state, const RemoteMessage& message) {
    const std::string text = message.encoded().value();
    for (auto _ : state) {
        auto decoded = RemoteMessage::decode(text);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_EncodeText(benchmark::State& state) {
    encode(state, textMessage());
}
void BM_DecodeText(benchmark::State& state) {
    decode(state, textMessage());
}
void BM_EncodeImageChunk64KiB(benchmark::State& state) {
    encode(state, chunkMessage());
}
void BM_DecodeImageChunk64KiB(benchmark::State& state) {
    decode(state, chunkMessage());
}

// The Base64 part of a chunk on its own, to see what the JSON layer adds.
void BM_Base64Decode64KiB(benchmark::State& state) {
    const RemoteMessage message = chunkMessage();
    const std::string text = base64Encoded(message.as<RemoteMessage::ImageChunk>()->data);
    for (auto _ : state) {
        auto bytes = base64Decoded(text);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_EncodeText);
BENCHMARK(BM_DecodeText);
BENCHMARK(BM_EncodeImageChunk64KiB);
BENCHMARK(BM_DecodeImageChunk64KiB);
BENCHMARK(BM_Base64Decode64KiB);

}  // namespace
}  // namespace kestrune

BENCHMARK_MAIN();
