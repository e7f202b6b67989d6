#pragma once

#include <system_error>

namespace orbilatch::system {

// sd-event and sd-bus report a failure as a negative errno; where there is no
// way to carry on, it becomes an exception naming the call.
inline void check(int result, const char* what) {
    if (result < 0) throw std::system_error(-result, std::generic_category(), what);
}

}  // namespace orbilatch::system
