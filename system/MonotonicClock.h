#pragma once

namespace orbilatch::system {

// Seconds on CLOCK_MONOTONIC: unaffected when someone or NTP steps the wall clock.
double monotonicSeconds();

}  // namespace orbilatch::system
