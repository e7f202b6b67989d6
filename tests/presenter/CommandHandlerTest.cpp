#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "presenter/CommandHandler.h"
#include "presenter/Options.h"

namespace orbilatch::presenter {
namespace {

struct FakeKeyboard final : Keyboard {
    std::optional<KeyFailure> failure;
    std::vector<std::string> pressed;

    std::optional<KeyFailure> press(const KeyChord& chord) override {
        pressed.push_back(chord.name());
        return failure;
    }
    std::string description() const override { return "a fake keyboard"; }
};

TEST(CommandHandlerTest, EachCommandIsOneKeyThenOneAcknowledgementInItsVersion) {
    using namespace std::chrono_literals;
    const KeyFailure refused{"KEY_INJECTION_FAILED", "writing to /dev/uinput failed"};
    const struct {
        CommandReceived command;
        std::optional<KeyFailure> keyboardFailure;
        std::vector<std::string> pressed;
        std::string acknowledgement;  // without its "type"
    } cases[] = {
        {{"42", 2, "NEXT_SLIDE"}, {}, {"PageDown"}, R"({"commandId":"42","status":"executed","protocolVersion":2})"},
        {{"7", 1, "TOGGLE_BLACK_SCREEN"}, {}, {"B"}, R"({"commandId":"7","status":"executed","protocolVersion":1})"},
        {{"8", 1, "START_PRESENTATION"}, refused, {"F5"},
         R"({"commandId":"8","status":"failed","protocolVersion":1,"errorCode":"KEY_INJECTION_FAILED"})"},
        {{"9", 2, "ZOOM_IN"}, {}, {},
         R"({"commandId":"9","status":"failed","protocolVersion":2,"errorCode":"UNKNOWN_COMMAND"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command.command);
        FakeKeyboard keyboard;
        keyboard.failure = c.keyboardFailure;
        auto now = std::chrono::steady_clock::time_point{} + 10ms;
        CommandHandler handler(keyboard, std::get<Options>(parseOptions({})).keys, [&] { return now; });

        const auto handled = handler.handle(c.command, now - 3ms);
        auto expected = nlohmann::json::parse(c.acknowledgement);
        expected["type"] = "command_acknowledgement";
        EXPECT_EQ(keyboard.pressed, c.pressed);
        EXPECT_EQ(nlohmann::json::parse(handled.acknowledgement), expected);
        EXPECT_EQ(handled.acknowledgement.find('\n'), std::string::npos);
        EXPECT_EQ(handled.outcome.took, 3ms);
    }
}

}  // namespace
}  // namespace orbilatch::presenter
