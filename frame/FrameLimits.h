#pragma once

#include <cstdint>

namespace orbilatch::frame {

// Command and acknowledgement frames share the size bound. The fixed part of a
// frame is 8 bytes, so a commandId of commandIdMaxBytes fills a frame exactly.
inline constexpr std::int64_t frameMaxBytes = 20;
inline constexpr std::int64_t commandIdMaxBytes = 12;

}  // namespace orbilatch::frame
