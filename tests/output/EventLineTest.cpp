#include "output/EventLine.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include <ostream>

namespace orbilatch::output {
namespace {

using namespace std::string_literals;

struct Case {
    const char* name;
    Event event;
    std::string expected;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const Case& testCase, std::ostream* out) { *out << testCase.name; }

class FormatEventLine : public ::testing::TestWithParam<Case> {};

TEST_P(FormatEventLine, WritesOneCompactLine) { EXPECT_EQ(formatEventLine(GetParam().event), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    , FormatEventLine,
    ::testing::Values(
        Case{"TypeOnly", Event("watch_connected"), "{\"type\":\"watch_connected\"}\n"},
        Case{"MembersInInsertionOrder",
             Event("ack_received_from_controller").with("status", "executed").with("commandId", "42"),
             "{\"type\":\"ack_received_from_controller\",\"status\":\"executed\",\"commandId\":\"42\"}\n"},
        Case{"BareIntegers",
             Event("n").with("two", std::int64_t{2}).with("zero", std::int64_t{0})
                 .with("min", std::numeric_limits<std::int64_t>::min()),
             "{\"type\":\"n\",\"two\":2,\"zero\":0,\"min\":-9223372036854775808}\n"},
        Case{"QuoteBackslashSolidus", Event("e").with("v", R"(a"b\c/d)"),
             R"({"type":"e","v":"a\"b\\c\/d"})" "\n"},
        Case{"NamedControls", Event("e").with("v", "\b\f\n\r\t"), R"({"type":"e","v":"\b\f\n\r\t"})" "\n"},
        Case{"OtherControlsAndDelete", Event("e").with("v", "\x01\x1f\x7f"s + '\0'),
             R"({"type":"e","v":"\u0001\u001f)" "\x7f" R"(\u0000"})" "\n"},
        Case{"NonAsciiRaw", Event("e").with("v", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
             "{\"type\":\"e\",\"v\":\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"}\n"},
        Case{"InvalidUtf8Repaired", Event("e").with("v", "a\xFF\"\xE2\x82"),
             "{\"type\":\"e\",\"v\":\"a\xEF\xBF\xBD\\\"\xEF\xBF\xBD\"}\n"},
        Case{"KeysEscapedAndRepaired", Event("e").with("a/\xC0", "x"),
             "{\"type\":\"e\",\"a\\/\xEF\xBF\xBD\":\"x\"}\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orbilatch::output
