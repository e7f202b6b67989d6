#include "frame/AckFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbilatch::frame {
namespace {

std::optional<std::string> encode(std::int64_t version, std::string_view commandId, std::string_view status,
                                  std::optional<std::string_view> errorCode) {
    const auto frame = encodeAckFrame(version, commandId, status, errorCode);
    if (!frame) return std::nullopt;
    return std::string(frame->begin(), frame->end());
}

TEST(AckFrameEncoding, ChoosesTheResultLetterAndTag) {
    struct Case {
        std::int64_t version;
        std::string_view status;
        std::optional<std::string_view> errorCode;
        std::string_view expected;
    };
    const Case cases[] = {
        {2, "executed", "PRESENTATION_ENDED", "OL2|A|42|E"},
        {2, "failed", "PRESENTATION_ENDED", "OL2|A|42|X"},
        {1, "failed", "PRESENTATION_ENDED", "PP1|A|42|D"},
        {3, "failed", "PRESENTATION_ENDED", "PP1|A|42|D"},
        {2, "failed", std::nullopt, "OL2|A|42|D"},
        {2, "failed", "presentation_ended", "OL2|A|42|D"},
        {2, "Executed", std::nullopt, "OL2|A|42|D"},
        {0, "executed", std::nullopt, "PP1|A|42|E"},
        {-1, "executed", std::nullopt, "PP1|A|42|E"},
        {3, "executed", std::nullopt, "PP1|A|42|E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(encode(c.version, "42", c.status, c.errorCode), c.expected);
    }
}

TEST(AckFrameEncoding, InsertsTheCommandIdUncheckedAndProducesAtMostTwentyBytes) {
    EXPECT_EQ(encode(1, "", "failed", std::nullopt), "PP1|A||D");
    EXPECT_EQ(encode(2, "a|b c", "executed", std::nullopt), "OL2|A|a|b c|E");
    EXPECT_EQ(encode(2, "abcdefghijkl", "executed", std::nullopt), "OL2|A|abcdefghijkl|E");
    EXPECT_EQ(encode(1, "abcdefghijklm", "executed", std::nullopt), std::nullopt);
    EXPECT_EQ(encode(2, "abcdefghijklm", "failed", "PRESENTATION_ENDED"), std::nullopt);

    const std::string sixTwoByteCharacters = "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";
    EXPECT_EQ(encode(1, sixTwoByteCharacters, "executed", std::nullopt), "PP1|A|" + sixTwoByteCharacters + "|E");
    EXPECT_EQ(encode(1, sixTwoByteCharacters + "\u00e9", "executed", std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace orbilatch::frame
