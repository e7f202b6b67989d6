#include "text/Utf8.h"

#include <gtest/gtest.h>

namespace orbilatch::text {
namespace {

using namespace std::string_view_literals;

std::string fffd(int times) {
    std::string result;
    for (int i = 0; i < times; ++i) result += "\xEF\xBF\xBD";
    return result;
}

// One replacement per maximal subpart of a valid sequence, as Unicode
// recommends; text that needs none is well-formed.
TEST(Utf8, EachMaximalSubpartOfAnIllFormedSequenceBecomesOneReplacement) {
    const std::pair<std::string_view, std::string> cases[] = {
        {"a\0b\x7F"sv, std::string("a\0b\x7F"sv)},
        // U+0080, U+07FF, U+0800, U+D7FF, U+E000, U+FFFF, U+10000, U+10FFFF
        {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"\xC0\xC1\xF5\xFF", fffd(4)},
        {"\xE0\x80\xAF", fffd(3)},          // overlong
        {"\xED\xA0\x80", fffd(3)},          // surrogate
        {"\xF4\x90\x80\x80", fffd(4)},      // above U+10FFFF
        {"z\xF0\x9F\x98", "z" + fffd(1)},   // truncated at the end
        {"\xF0\x9F\xC3\xA9", fffd(1) + "\xC3\xA9"},
        // The example the Unicode Standard gives for this practice.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", "a" + fffd(3) + "b" + fffd(1) + "c" + fffd(2) + "d"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(repairUtf8(input), expected) << ::testing::PrintToString(std::string(input));
        EXPECT_EQ(isWellFormedUtf8(input), input == expected) << ::testing::PrintToString(std::string(input));
    }
}

}  // namespace
}  // namespace orbilatch::text
