#include "system/MonotonicClock.h"

#include <chrono>

namespace orbilatch::system {

static_assert(std::chrono::steady_clock::is_steady);

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace orbilatch::system
