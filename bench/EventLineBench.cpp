#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "system/LineSplitter.h"
#include "output/EventLine.h"

namespace {

using orbilatch::system::LineSplitter;
using orbilatch::output::Event;
using orbilatch::output::formatEventLine;

void formatCommandReceived(benchmark::State& state) {
    const Event event = Event("command_received")
                            .with("protocolVersion", std::int64_t{2})
                            .with("commandId", "42")
                            .with("command", "NEXT_SLIDE");
    for (auto _ : state) benchmark::DoNotOptimize(formatEventLine(event));
}
BENCHMARK(formatCommandReceived);

void formatTextNeedingEscapes(benchmark::State& state) {
    const Event event =
        Event("ble_state_changed").with("state", "error").with("message", "Failed: \"hci0\"\n/org/bluez \xC3\xA9\xFF");
    for (auto _ : state) benchmark::DoNotOptimize(formatEventLine(event));
}
BENCHMARK(formatTextNeedingEscapes);

void splitControllerLines(benchmark::State& state) {
    const std::string line =
        R"({"type":"command_acknowledgement","commandId":"42","status":"executed","protocolVersion":2})" "\n";
    std::string chunk;
    while (chunk.size() + line.size() <= 64 * 1024) chunk += line;
    LineSplitter splitter;
    for (auto _ : state) benchmark::DoNotOptimize(splitter.feed(chunk));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
}
BENCHMARK(splitControllerLines);

}  // namespace
