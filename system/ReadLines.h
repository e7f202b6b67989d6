#pragma once

#include <functional>
#include <string>
#include <vector>

#include "system/LineSplitter.h"

namespace orbilatch::system {

using DeliverLines = std::function<void(std::vector<std::string>& lines)>;

// Reads fd until it has nothing more for now or its input ends, and hands the
// lines each read completes to deliver, in order. At the end of the input, or
// at a read error, delivers the unterminated last line if there is one and
// returns false; returns true when a non-blocking fd has nothing more for now.
bool readLines(int fd, LineSplitter& splitter, const DeliverLines& deliver);

}  // namespace orbilatch::system
