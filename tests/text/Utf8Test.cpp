#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <ostream>

namespace orbilatch::text {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view fffd = "\xEF\xBF\xBD";

struct Case {
    const char* name;
    std::string_view input;
    std::string expected;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const Case& testCase, std::ostream* out) { *out << testCase.name; }

std::string repeated(std::string_view piece, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) result += piece;
    return result;
}

class RepairUtf8 : public ::testing::TestWithParam<Case> {};

TEST_P(RepairUtf8, ReplacesEachMaximalSubpart) {
    EXPECT_EQ(repairUtf8(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    , RepairUtf8,
    ::testing::Values(
        Case{"Empty", "", ""},
        Case{"AsciiWithNul", "a\0b\x7F"sv, std::string("a\0b\x7F"sv)},
        // U+0080, U+07FF, U+0800, U+D7FF, U+E000, U+FFFF, U+10000, U+10FFFF
        Case{"BoundaryScalarsKept",
             "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
             "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        Case{"LoneContinuation", "a\x80z", "a" + std::string(fffd) + "z"},
        Case{"ImpossibleLeads", "\xC0\xC1\xF5\xFF", repeated(fffd, 4)},
        Case{"OverlongTwoBytes", "\xC0\xAF", repeated(fffd, 2)},
        Case{"OverlongThreeBytes", "\xE0\x80\xAF", repeated(fffd, 3)},
        Case{"OverlongFourBytes", "\xF0\x8F\xBF\xBF", repeated(fffd, 4)},
        Case{"Surrogate", "\xED\xA0\x80", repeated(fffd, 3)},
        Case{"AboveMaximum", "\xF4\x90\x80\x80", repeated(fffd, 4)},
        Case{"TruncatedBeforeAscii", "\xE2\x82z", std::string(fffd) + "z"},
        Case{"TruncatedAtEnd", "z\xF0\x9F\x98", "z" + std::string(fffd)},
        Case{"TruncatedBeforeLead", "\xF0\x9F\xC3\xA9", std::string(fffd) + "\xC3\xA9"},
        // The example the Unicode Standard gives for this practice.
        Case{"UnicodeExample", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
             "a" + repeated(fffd, 3) + "b" + std::string(fffd) + "c" + repeated(fffd, 2) + "d"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orbilatch::text
