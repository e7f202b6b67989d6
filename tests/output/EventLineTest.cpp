#include "output/EventLine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace orbilatch::output {
namespace {

using namespace std::string_literals;

TEST(EventLine, IsOneCompactObjectWithEscapesAndRawUtf8) {
    const std::pair<Event, std::string> cases[] = {
        {Event("watch_connected"), "{\"type\":\"watch_connected\"}\n"},
        {Event("ack_received_from_controller").with("status", "executed").with("commandId", "42"),
         "{\"type\":\"ack_received_from_controller\",\"status\":\"executed\",\"commandId\":\"42\"}\n"},
        {Event("n").with("two", std::int64_t{2}).with("min", std::numeric_limits<std::int64_t>::min()),
         "{\"type\":\"n\",\"two\":2,\"min\":-9223372036854775808}\n"},
        {Event("e").with("v", R"(a"b\c/d)"), R"({"type":"e","v":"a\"b\\c\/d"})" "\n"},
        {Event("e").with("v", "\b\f\n\r\t\x01\x1f\x7f"s + '\0'),
         R"({"type":"e","v":"\b\f\n\r\t\u0001\u001f)" "\x7f" R"(\u0000"})" "\n"},
        {Event("e").with("v", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
         "{\"type\":\"e\",\"v\":\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"}\n"},
        {Event("e").with("a/\xC0", "a\xFF\"\xE2\x82"),
         "{\"type\":\"e\",\"a\\/\xEF\xBF\xBD\":\"a\xEF\xBF\xBD\\\"\xEF\xBF\xBD\"}\n"},
    };
    for (const auto& [event, expected] : cases) EXPECT_EQ(formatEventLine(event), expected);
}

}  // namespace
}  // namespace orbilatch::output
