// Any value a radio can write to the command characteristic. A value that
// decodes is exactly the frame its version, commandId and command spell, and
// its acknowledgement never passes for a command; a value that does not
// decode fails at the first check of size, text and shape it breaks.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "frame/AckFrame.h"
#include "frame/CommandFrame.h"
#include "fuzz/FuzzSupport.h"
#include "text/Utf8.h"

using namespace orbilatch::frame;
using orbilatch::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> frame(data, size);
    const std::string input(frame.begin(), frame.end());
    const auto result = decodeCommandFrame(frame);
    if (const auto* decoded = std::get_if<DecodedCommandFrame>(&result)) {
        const std::string tag(decoded->protocolVersion == 2 ? versionTwoTag : versionOneTag);
        check(input.starts_with(tag + "|C|" + decoded->commandId + "|") && input.size() == tag.size() + decoded->commandId.size() + 5,
              "the decoded frame spells the written value", {input});
        const auto acknowledgement = encodeAckFrame(decoded->protocolVersion, decoded->commandId, "executed", {});
        check(acknowledgement && std::string(acknowledgement->begin(), acknowledgement->end()) ==
                                     tag + "|A|" + decoded->commandId + "|E",
              "a decoded commandId always fits its acknowledgement", {input});
        const auto echoed = decodeCommandFrame(*acknowledgement);
        check(std::holds_alternative<FrameError>(echoed) && std::get<FrameError>(echoed).code == 4,
              "an acknowledgement never passes for a command", {input});
        return 0;
    }
    const int code = std::get<FrameError>(result).code;
    if (input.empty()) check(code == 1, "empty is code 1", {input});
    else if (input.size() > 20) check(code == 2, "oversized is code 2, whatever the bytes", {input});
    else if (!orbilatch::text::isWellFormedUtf8(input)) check(code == 3, "ill-formed UTF-8 is code 3", {input});
    else if (std::ranges::count(input, '|') != 3) check(code == 4, "not four fields is code 4", {input});
    else check(code >= 4, "well-formed four fields fail on their content", {input});
    return 0;
}
