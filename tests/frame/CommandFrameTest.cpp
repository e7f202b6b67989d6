#include "frame/CommandFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orbilatch::frame {

void PrintTo(const DecodedCommandFrame& frame, std::ostream* out) {
    *out << "{" << frame.protocolVersion << ", " << frame.commandId << ", " << frame.command << "}";
}

void PrintTo(const FrameError& error, std::ostream* out) {
    *out << "{" << error.domain << ", " << error.code << ", " << error.description << "}";
}

namespace {

using namespace std::string_view_literals;

CommandFrameResult decode(std::string_view text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return decodeCommandFrame(bytes);
}

struct Accepted {
    std::string_view frame;
    DecodedCommandFrame expected;
};

TEST(CommandFrameDecoding, AcceptsEachLetterItsVersionAllows) {
    const Accepted cases[] = {
        {"PP1|C|42|N", {1, "42", "NEXT_SLIDE"}},
        {"PP1|C|7|P", {1, "7", "PREVIOUS_SLIDE"}},
        {"PP1|C|7|X", {1, "7", "END_PRESENTATION"}},
        {"OL2|C|42|N", {2, "42", "NEXT_SLIDE"}},
        {"OL2|C|a.b:c-1_2|S", {2, "a.b:c-1_2", "START_PRESENTATION"}},
        {"OL2|C|Zz09|P", {2, "Zz09", "PREVIOUS_SLIDE"}},
        {"OL2|C|-|X", {2, "-", "END_PRESENTATION"}},
        {"OL2|C|abcdefghijkl|B", {2, "abcdefghijkl", "TOGGLE_BLACK_SCREEN"}},
        {"PP1|C|ABCDEFGHIJKL|N", {1, "ABCDEFGHIJKL", "NEXT_SLIDE"}},
    };
    for (const Accepted& accepted : cases) {
        SCOPED_TRACE(accepted.frame);
        EXPECT_EQ(std::get<DecodedCommandFrame>(decode(accepted.frame)), accepted.expected);
    }
}

void expectRefused(const FrameError& expected, std::initializer_list<std::string_view> frames) {
    for (std::string_view frame : frames) {
        SCOPED_TRACE(testing::PrintToString(std::string(frame)));
        const CommandFrameResult result = decode(frame);
        const auto* error = std::get_if<FrameError>(&result);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(*error, expected);
    }
}

TEST(CommandFrameRefusal, EmptyFrameIsCode1) {
    expectRefused({"OrbiLatchBle", 1, "BLE frame is empty"}, {""});
}

TEST(CommandFrameRefusal, MoreThanTwentyBytesIsCode2BeforeAnyOtherCheck) {
    expectRefused({"OrbiLatchBle", 2, "BLE frame exceeds maximum size"},
                  {
                      "OL2|C|abcdefghijklm|N",
                      "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF",
                      "PP1|C|\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9|N",  // 7 two-byte characters
                  });
}

TEST(CommandFrameRefusal, IllFormedUtf8IsCode3) {
    expectRefused({"OrbiLatchBle", 3, "BLE frame is not UTF-8"},
                  {
                      "PP1|C|\xFF|N",
                      "\xFF",
                      "PP1|C|\x80|N",  // lone continuation byte
                      "PP1|C|\xC0\xAF|N",  // overlong "/"
                      "PP1|C|\xE0\x9F\xBF|N",  // overlong U+07FF
                      "PP1|C|\xF0\x8F\xBF\xBF|N",  // overlong U+FFFF
                      "PP1|C|\xED\xA0\x80|N",  // surrogate U+D800
                      "PP1|C|\xF4\x90\x80\x80|N",  // U+110000
                      "PP1|C|\xF5\x80\x80\x80|N",  // F5 never leads
                      "PP1|C|\xC3|N",  // truncated before a separator
                      "PP1|C|\xF0\x9F\x98|N",  // truncated in its last byte
                      "PP1|C|\xE2\x82" "A|N",  // third byte not a continuation
                      "PP1|C|42|\xE2\x82",  // truncated at the end
                  });
}

TEST(CommandFrameRefusal, WrongShapeIsCode4) {
    expectRefused({"OrbiLatchBle", 4, "Malformed BLE command frame"},
                  {
                      "PP1|C|42|N|",
                      "PP1|C|42",
                      "|PP1|C|42|N",
                      "pp1|C|42|N",
                      "PP2|C|42|N",
                      " PP1|C|42|N",
                      "\xEF\xBB\xBFPP1|C|42|N",  // byte-order mark stays part of the tag
                      "PP1|A|42|E",
                      "OL2|c|42|N",
                      "PP1|X||Q",  // shape is judged before commandId and letter
                  });
}

TEST(CommandFrameRefusal, BadCommandIdIsCode5) {
    expectRefused({"OrbiLatchBle", 5, "Invalid commandId"},
                  {
                      "PP1|C||N",
                      "PP1|C||Q",  // commandId is judged before the letter
                      "PP1|C|a b|N",
                      "PP1|C|a/b|N",
                      "PP1|C|42\n|N",
                      "PP1|C|abcdefghijklm|",
                      "PP1|C|\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9|N",  // 12 bytes, 20 in all: fits but not ASCII
                      // Boundary code points that are well-formed, so they reach this check.
                      "PP1|C|\u0800|N",
                      "PP1|C|\uD7FF|N",
                      "PP1|C|\uE000|N",
                      "PP1|C|\U00010000|N",
                      "PP1|C|\U0010FFFF|N",
                  });
}

TEST(CommandFrameRefusal, LetterOutsideTheVersionIsCode6) {
    expectRefused({"OrbiLatchBle", 6, "Unknown BLE command"},
                  {
                      "PP1|C|7|S",
                      "PP1|C|7|B",
                      "PP1|C|42|n",
                      "OL2|C|42|Q",
                      "PP1|C|42|NEXT_SLIDE",
                      "OL2|C|42|",
                      "PP1|C|42|N\0"sv,
                      "PP1|C|42|N\n",
                      "OL2|C|42|S ",
                  });
}

}  // namespace
}  // namespace orbilatch::frame
