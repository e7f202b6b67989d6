#pragma once

#include <string>
#include <string_view>

namespace orbilatch::text {

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF and no truncated sequence.
bool isWellFormedUtf8(std::string_view bytes);

// Appends bytes to out, each ill-formed UTF-8 sequence replaced by U+FFFD: one
// replacement per maximal subpart of a valid sequence, as Unicode recommends.
void appendRepairedUtf8(std::string& out, std::string_view bytes);

std::string repairUtf8(std::string_view bytes);

}  // namespace orbilatch::text
