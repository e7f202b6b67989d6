#pragma once

#include <string>

#include "output/Event.h"

namespace orbilatch::output {

// The event as one compact JSON object followed by a line feed, members in the
// event's order. Strings escape the quotation mark, the reverse solidus, the
// solidus and control characters and keep everything else as raw UTF-8, so a
// line never breaks; ill-formed UTF-8 becomes U+FFFD rather than losing the event.
std::string formatEventLine(const Event& event);

}  // namespace orbilatch::output
