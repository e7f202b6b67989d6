#pragma once

#include <string_view>

namespace orbilatch::frame {

// Pieces common to command and acknowledgement frames.
inline constexpr std::string_view versionOneTag = "PP1";
inline constexpr std::string_view versionTwoTag = "OL2";
inline constexpr char fieldSeparator = '|';

}  // namespace orbilatch::frame
