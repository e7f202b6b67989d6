#include "frame/AckFrame.h"

#include "frame/CommandFrame.h"
#include "protocol/Messages.h"

namespace orbilatch::frame {
namespace {

constexpr std::string_view ackKind = "A";

char resultLetter(bool versionTwo, std::string_view status, std::optional<std::string_view> errorCode) {
    if (status == protocol::status::executed) return 'E';
    // Version 1 watches know no "X", so they are told a plain failure.
    if (versionTwo && errorCode == protocol::presentationEnded) return 'X';
    return 'D';
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeAckFrame(std::int64_t protocolVersion,
                                                        std::string_view commandId,
                                                        std::string_view status,
                                                        std::optional<std::string_view> errorCode) {
    const bool versionTwo = protocolVersion == 2;
    const std::string_view versionTag = versionTwo ? versionTwoTag : versionOneTag;
    // tag|A|commandId|letter
    const std::size_t size = versionTag.size() + 1 + ackKind.size() + 1 + commandId.size() + 1 + 1;
    if (static_cast<std::int64_t>(size) > frameMaxBytes) return std::nullopt;

    std::vector<std::uint8_t> frame;
    frame.reserve(size);
    const auto append = [&frame](std::string_view part) { frame.insert(frame.end(), part.begin(), part.end()); };
    append(versionTag);
    frame.push_back(fieldSeparator);
    append(ackKind);
    frame.push_back(fieldSeparator);
    append(commandId);
    frame.push_back(fieldSeparator);
    frame.push_back(static_cast<std::uint8_t>(resultLetter(versionTwo, status, errorCode)));
    return frame;
}

}  // namespace orbilatch::frame
