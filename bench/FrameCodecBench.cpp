#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <optional>

#include "frame/AckFrame.h"
#include "frame/CommandFrame.h"

namespace {

using namespace orbilatch::frame;

void decodeValidCommandFrame(benchmark::State& state) {
    constexpr std::array<std::uint8_t, 17> frame{'O', 'L', '2', '|', 'C', '|', 'a', '.', 'b',
                                                 ':', 'c', '-', '1', '_', '2', '|', 'S'};
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeCommandFrame(frame));
    }
}
BENCHMARK(decodeValidCommandFrame);

void encodeAcknowledgement(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeAckFrame(2, "a.b:c-1_2", "failed", "PRESENTATION_ENDED"));
    }
}
BENCHMARK(encodeAcknowledgement);

}  // namespace
