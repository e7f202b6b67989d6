#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/PeripheralBench.h"

namespace orbilatch::fuzz {

// A broken property ends the run the way a sanitizer does, so libFuzzer keeps
// the input that broke it.
inline void check(bool holds, std::string_view property, const std::vector<std::string>& what = {}) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %.*s\n", static_cast<int>(property.size()), property.data());
    for (const auto& line : what) std::fprintf(stderr, "    %s\n", line.c_str());
    std::abort();
}

// Advertising, with the watch subscribed, and nothing in the transcript yet.
struct Bench : testing::PeripheralBench {
    Bench() { connectWatch(); }
    void subscribe(bool on) { on ? PeripheralBench::subscribe(watch) : unsubscribe(watch); }
};

}  // namespace orbilatch::fuzz
