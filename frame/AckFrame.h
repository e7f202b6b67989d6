#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orbilatch::frame {

// Builds the acknowledgement frame notified to the watch: "E" when the status is
// "executed", "X" when a version-2 command failed with "PRESENTATION_ENDED",
// "D" otherwise. The commandId goes in unchanged. Absent when the frame would
// exceed frameMaxBytes.
std::optional<std::vector<std::uint8_t>> encodeAckFrame(std::int64_t protocolVersion,
                                                        std::string_view commandId,
                                                        std::string_view status,
                                                        std::optional<std::string_view> errorCode);

}  // namespace orbilatch::frame
