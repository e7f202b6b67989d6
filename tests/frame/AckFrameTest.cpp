#include "frame/AckFrame.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace orbilatch::frame {
namespace {

struct Case {
    std::int64_t version;
    std::string_view commandId;
    std::string_view status;
    std::optional<std::string_view> errorCode;
    std::optional<std::string_view> expected;
};

TEST(AckFrameEncoding, ChoosesTagAndLetterAndFitsTwentyBytes) {
    const std::string sixTwoByteCharacters = "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";
    const std::string fitting = "PP1|A|" + sixTwoByteCharacters + "|E";
    const std::string sevenTwoByteCharacters = sixTwoByteCharacters + "\u00e9";
    const Case cases[] = {
        {1, "42", "executed", std::nullopt, "PP1|A|42|E"},
        {2, "42", "executed", "PRESENTATION_ENDED", "OL2|A|42|E"},
        {2, "42", "failed", "PRESENTATION_ENDED", "OL2|A|42|X"},
        {1, "42", "failed", "PRESENTATION_ENDED", "PP1|A|42|D"},
        {2, "42", "failed", std::nullopt, "OL2|A|42|D"},
        {2, "42", "failed", "presentation_ended", "OL2|A|42|D"},
        {-1, "42", "executed", std::nullopt, "PP1|A|42|E"},
        {1, "", "failed", std::nullopt, "PP1|A||D"},
        {2, "a|b c", "executed", std::nullopt, "OL2|A|a|b c|E"},
        {2, "abcdefghijkl", "executed", std::nullopt, "OL2|A|abcdefghijkl|E"},
        {1, "abcdefghijklm", "executed", std::nullopt, std::nullopt},
        {1, sixTwoByteCharacters, "executed", std::nullopt, fitting},
        {1, sevenTwoByteCharacters, "executed", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto frame = encodeAckFrame(c.version, c.commandId, c.status, c.errorCode);
        EXPECT_EQ(frame ? std::optional<std::string>(std::string(frame->begin(), frame->end())) : std::nullopt,
                  c.expected ? std::optional<std::string>(*c.expected) : std::nullopt)
            << c.version << " " << c.commandId << " " << c.status;
    }
}

}  // namespace
}  // namespace orbilatch::frame
