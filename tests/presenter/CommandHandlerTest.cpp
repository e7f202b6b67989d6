#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "presenter/CommandHandler.h"

namespace orbilatch::presenter {
namespace {

using enum protocol::Command;

struct FakeRoute final : Route {
    std::optional<Failure> failure;
    std::vector<protocol::Command> carried;

    Carried carryOut(protocol::Command command) override {
        carried.push_back(command);
        return {"action " + std::to_string(carried.size()), failure};
    }
    std::string description() const override { return "a fake route"; }
};

TEST(CommandHandlerTest, EachCommandIsCarriedOutThenAnsweredOnceInItsVersion) {
    using namespace std::chrono_literals;
    const Failure refused{"KEY_INJECTION_FAILED", "writing to /dev/uinput failed"};
    const struct {
        CommandReceived command;
        std::optional<Failure> routeFailure;
        std::vector<protocol::Command> carried;
        std::string acknowledgement;  // without its "type"
    } cases[] = {
        {{"42", 2, "NEXT_SLIDE"}, {}, {nextSlide}, R"({"commandId":"42","status":"executed","protocolVersion":2})"},
        {{"8", 1, "START_PRESENTATION"}, refused, {startPresentation},
         R"({"commandId":"8","status":"failed","protocolVersion":1,"errorCode":"KEY_INJECTION_FAILED"})"},
        {{"9", 2, "ZOOM_IN"}, {}, {},
         R"({"commandId":"9","status":"failed","protocolVersion":2,"errorCode":"UNKNOWN_COMMAND"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command.command);
        FakeRoute route;
        route.failure = c.routeFailure;
        auto now = std::chrono::steady_clock::time_point{} + 10ms;
        CommandHandler handler(route, [&] { return now; });

        const auto handled = handler.handle(c.command, now - 3ms);
        auto expected = nlohmann::json::parse(c.acknowledgement);
        expected["type"] = "command_acknowledgement";
        EXPECT_EQ(route.carried, c.carried);
        EXPECT_EQ(nlohmann::json::parse(handled.acknowledgement), expected);
        EXPECT_EQ(handled.acknowledgement.find('\n'), std::string::npos);
        EXPECT_EQ(handled.outcome.action, c.carried.empty() ? "" : "action 1");
        EXPECT_EQ(handled.outcome.took, 3ms);
    }
}

}  // namespace
}  // namespace orbilatch::presenter
