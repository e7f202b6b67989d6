#pragma once

#include <string_view>

namespace orbilatch::frame {

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF and no truncated sequence.
bool isWellFormedUtf8(std::string_view bytes);

}  // namespace orbilatch::frame
