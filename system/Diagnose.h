#pragma once

#include <functional>
#include <string_view>

namespace orbilatch::system {

// Where a part tells a human what failed and why, one line at a time.
using Diagnose = std::function<void(std::string_view message)>;

}  // namespace orbilatch::system
