#include "main/ControllerMessage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/PeripheralBench.h"

namespace orbilatch::testing {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

class ControllerInput : public ::testing::Test, public PeripheralBench {};

const char* const malformed = "err: Ignoring malformed controller input";
const char* const unsupported = "err: Ignoring unsupported controller input";

TEST_F(ControllerInput, LinesThatAreNotAnObjectWithAStringTypeAreMalformed) {
    // The JSON reader would stop at a NUL and take what comes before it.
    using namespace std::string_view_literals;
    for (const std::string_view line :
         {""sv, "   "sv, "[]"sv, R"("shutdown")"sv, "{"sv, R"({"type":1})"sv, R"({"kind":"shutdown"})"sv,
          R"({"type":"shutdown"} {"type":"shutdown"})"sv, "{\"type\":\"shut\ndown\"}"sv,
          R"({"type":"shutdown"})" "\0" R"({"x":)"sv,
          R"({"type":"command_acknowledgement","commandId":"1","status":"s"})" "\0 trailing garbage {]"sv}) {
        peripheral.handleInputLine(line);
        EXPECT_THAT(take(), ElementsAre(malformed)) << line;
    }
}

TEST_F(ControllerInput, UnknownTypesAndAcknowledgementsWithoutTextFieldsAreUnsupported) {
    for (const char* line : {R"({"type":"SHUTDOWN"})", R"({"type":"hello"})",
                             R"({"type":"command_acknowledgement","commandId":42,"status":"executed"})",
                             R"({"type":"command_acknowledgement","commandId":"42"})",
                             R"({"type":"command_acknowledgement","status":"executed"})"}) {
        peripheral.handleInputLine(line);
        EXPECT_THAT(take(), ElementsAre(unsupported)) << line;
    }
}

TEST_F(ControllerInput, AnOversizedAcknowledgementLeavesThePendingOneAlone) {
    connectWatch();
    manager->transmitQueueHasRoom = false;
    acknowledge("7");
    queue.advance(milliseconds(50));
    take();

    peripheral.handleInputLine(R"({"type":"command_acknowledgement","commandId":"abcdefghijklm","status":"executed"})");
    queue.advance(milliseconds(100));
    EXPECT_THAT(take(), ElementsAre("err: Ignoring oversized acknowledgement for abcdefghijklm"));

    manager->transmitQueueHasRoom = true;
    peripheral.isReadyToUpdateSubscribers(*manager);
    EXPECT_THAT(take(), ElementsAre(::testing::HasSubstr("OL2|A|7|E"), ::testing::HasSubstr("ack_notified")));
}

TEST_F(ControllerInput, AnAcceptedAcknowledgementIsReportedWithTheTextsItCarried) {
    peripheral.handleInputLine(
        R"( {"type":"command_acknowledgement","commandId":"\/é","status":"done","extra":[1,2]} )");
    EXPECT_THAT(take(), ElementsAre(R"(out: {"type":"ack_received_from_controller","commandId":"\/é","status":"done"})"));
}

agent::AcknowledgementMessage acknowledgementIn(const std::string& line) {
    auto message = agent::parseControllerMessage(line);
    auto* acknowledgement = std::get_if<agent::AcknowledgementMessage>(&message);
    EXPECT_NE(acknowledgement, nullptr) << line;
    return acknowledgement ? *acknowledgement : agent::AcknowledgementMessage{};
}

// The same values as an error code: only text is one.
TEST(ControllerMessageTyping, ProtocolVersionIsAnyIntegralNumberWithinSixtyFourBitsOtherwiseOneAndAnErrorCodeIsText) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"2", 2}, {"2.0", 2}, {"-0", 0}, {"0", 0}, {"-7", -7}, {"3e0", 3}, {"1e2", 100},
        {"9223372036854775807", 9223372036854775807}, {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", 1}, {"-9223372036854775809", 1}, {"1e19", 1}, {"-1e19", 1},
        {"2.5", 1}, {R"("2")", 1}, {"null", 1}, {"true", 1}, {"[2]", 1}, {R"({"v":2})", 1},
    };
    for (const auto& [text, expected] : cases) {
        const auto fields = std::string(R"({"type":"command_acknowledgement","commandId":"1","status":"s",)");
        EXPECT_EQ(acknowledgementIn(fields + R"("protocolVersion":)" + text + "}").protocolVersion, expected) << text;
        const std::string_view value = text;
        const auto errorCode = value.starts_with('"') ? std::optional<std::string>(value.substr(1, value.size() - 2))
                                                      : std::nullopt;
        EXPECT_EQ(acknowledgementIn(fields + R"("errorCode":)" + text + "}").errorCode, errorCode) << text;
    }
    EXPECT_EQ(acknowledgementIn(R"({"type":"command_acknowledgement","commandId":"1","status":"s"})").protocolVersion, 1);
}

}  // namespace
}  // namespace orbilatch::testing
