#include "system/LineSplitter.h"

#include <gtest/gtest.h>

namespace orbilatch::system {
namespace {

using Lines = std::vector<std::string>;

// Chunks as reads return them; the lines of every chunk, then the one finish() yields.
TEST(LineSplitter, CutsAStreamIntoRepairedLinesWhereverItsChunksEnd) {
    const std::pair<Lines, Lines> cases[] = {
        {{}, {}},
        {{"one\ntwo\r\n"}, {"one", "two"}},
        {{"\ra\rb\r\r\n"}, {"\ra\rb\r"}},
        {{"\n\r\n\n"}, {"", "", ""}},
        {{"one\ntwo"}, {"one", "two"}},
        {{"abc\r"}, {"abc\r"}},
        {{"a\xC3(\n\xFF"}, {"a\xEF\xBF\xBD(", "\xEF\xBF\xBD"}},
        {{"o", "n", "e\ntw", "o\n"}, {"one", "two"}},
        {{"one", "\n", "\ntwo"}, {"one", "", "two"}},
        {{"one\r", "\ntwo\r", "\n"}, {"one", "two"}},
        {{"\xE2\x82", "\xAC\n"}, {"\xE2\x82\xAC"}},
    };
    for (const auto& [chunks, expected] : cases) {
        LineSplitter splitter;
        Lines lines;
        for (const auto& chunk : chunks)
            for (auto& line : splitter.feed(chunk)) lines.push_back(std::move(line));
        if (auto last = splitter.finish()) lines.push_back(std::move(*last));
        EXPECT_EQ(lines, expected) << ::testing::PrintToString(chunks);
    }
}

}  // namespace
}  // namespace orbilatch::system
