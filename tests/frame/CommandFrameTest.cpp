#include "frame/CommandFrame.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace orbilatch::frame {
namespace {

using namespace std::string_view_literals;

CommandFrameResult decode(std::string_view text) {
    return decodeCommandFrame(std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(CommandFrameDecoding, AcceptsEachLetterItsVersionAllowsUpToBothLimits) {
    const std::pair<std::string_view, DecodedCommandFrame> cases[] = {
        {"PP1|C|42|N", {1, "42", protocol::Command::nextSlide}},
        {"PP1|C|7|P", {1, "7", protocol::Command::previousSlide}},
        {"PP1|C|7|X", {1, "7", protocol::Command::endPresentation}},
        {"OL2|C|a.b:c-1_2|S", {2, "a.b:c-1_2", protocol::Command::startPresentation}},
        {"OL2|C|abcdefghijkl|B", {2, "abcdefghijkl", protocol::Command::toggleBlackScreen}},
    };
    for (const auto& [frame, expected] : cases) EXPECT_EQ(std::get<DecodedCommandFrame>(decode(frame)), expected) << frame;
}

// Each edge of the alphabet's ranges and the character just outside it.
TEST(CommandFrameDecoding, ACommandIdHoldsOnlyLettersDigitsDotUnderscoreColonAndHyphen) {
    const std::pair<std::string_view, bool> cases[] = {{"AZaz09._:-", true}, {"@[`{/;,^", false}};
    for (const auto& [characters, accepted] : cases) {
        for (const char c : characters) {
            const std::string frame = "OL2|C|a" + std::string(1, c) + "b|N";
            EXPECT_EQ(std::holds_alternative<DecodedCommandFrame>(decode(frame)), accepted) << frame;
        }
    }
}

// Each check comes before the next: size before text, text before shape,
// shape before the commandId, the commandId before the letter.
TEST(CommandFrameDecoding, RefusesWithTheFirstCheckAFrameFails) {
    const std::pair<int, std::vector<std::string_view>> cases[] = {
        {1, {""}},
        {2, {"OL2|C|abcdefghijklm|N", "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"}},
        {3, {"PP1|C|\xFF|N", "PP1|C|\xC0\xAF|N", "PP1|C|\xED\xA0\x80|N", "PP1|C|42|\xE2\x82"}},
        {4, {"PP1|C|42|N|", "PP1|C|42", "pp1|C|42|N", " PP1|C|42|N", "\xEF\xBB\xBFPP1|C|42|N", "PP1|A|42|E",
             "PP1|X||Q"}},
        {5, {"PP1|C||Q", "PP1|C|a b|N", "PP1|C|42\n|N", "PP1|C|abcdefghijklm|",
             "PP1|C|\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9|N"}},
        {6, {"PP1|C|7|S", "PP1|C|7|B", "PP1|C|42|n", "PP1|C|42|NEXT_SLIDE", "OL2|C|42|", "PP1|C|42|N\0"sv}},
    };
    const char* descriptions[] = {"BLE frame is empty", "BLE frame exceeds maximum size", "BLE frame is not UTF-8",
                                  "Malformed BLE command frame", "Invalid commandId", "Unknown BLE command"};
    for (const auto& [code, frames] : cases) {
        for (std::string_view frame : frames) {
            const auto result = decode(frame);
            ASSERT_TRUE(std::holds_alternative<FrameError>(result)) << ::testing::PrintToString(std::string(frame));
            EXPECT_EQ(std::get<FrameError>(result), (FrameError{"OrbiLatchBle", code, descriptions[code - 1]}))
                << ::testing::PrintToString(std::string(frame));
        }
    }
}

}  // namespace
}  // namespace orbilatch::frame
