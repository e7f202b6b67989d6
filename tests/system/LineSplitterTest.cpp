#include "system/LineSplitter.h"

#include <gtest/gtest.h>

#include <ostream>

namespace orbilatch {
namespace {

using Lines = std::vector<std::string>;

struct Case {
    const char* name;
    Lines chunks;
    Lines expected;  // the lines of every chunk, then the one finish() yields
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const Case& testCase, std::ostream* out) { *out << testCase.name; }

class LineSplitterCases : public ::testing::TestWithParam<Case> {};

TEST_P(LineSplitterCases, SplitsStream) {
    LineSplitter splitter;
    Lines lines;
    for (const auto& chunk : GetParam().chunks) {
        for (auto& line : splitter.feed(chunk)) lines.push_back(std::move(line));
    }
    if (auto last = splitter.finish()) lines.push_back(std::move(*last));
    EXPECT_EQ(lines, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    , LineSplitterCases,
    ::testing::Values(
        Case{"NoInput", {}, {}},
        Case{"LineFeeds", {"one\ntwo\n"}, {"one", "two"}},
        Case{"CarriageReturnLineFeeds", {"one\r\ntwo\r\n"}, {"one", "two"}},
        Case{"LoneCarriageReturnsStay", {"\ra\rb\r\r\n"}, {"\ra\rb\r"}},
        Case{"EmptyLines", {"\n\r\n\n"}, {"", "", ""}},
        Case{"UnterminatedLastLine", {"one\ntwo"}, {"one", "two"}},
        Case{"UnterminatedLastLineKeepsCarriageReturn", {"abc\r"}, {"abc\r"}},
        Case{"InvalidUtf8Repaired", {"a\xC3(\n\xFF"}, {"a\xEF\xBF\xBD(", "\xEF\xBF\xBD"}},
        Case{"LineAcrossChunks", {"o", "n", "e\ntw", "o\n"}, {"one", "two"}},
        Case{"LineFeedStartsChunk", {"one", "\n", "\ntwo"}, {"one", "", "two"}},
        Case{"CarriageReturnLineFeedAcrossChunks", {"one\r", "\ntwo\r", "\n"}, {"one", "two"}},
        Case{"CharacterAcrossChunks", {"\xE2\x82", "\xAC\n"}, {"\xE2\x82\xAC"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orbilatch
