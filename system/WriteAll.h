#pragma once

#include <string_view>

namespace orbilatch::system {

// Writes all the bytes in order, so that a reader never sees a cut line: what
// one write(2) does not take follows in the next, and a descriptor left
// non-blocking by whoever started us is waited on. False when the descriptor
// refuses the bytes, such as a pipe whose reader has gone.
bool writeAll(int fd, std::string_view bytes);

}  // namespace orbilatch::system
