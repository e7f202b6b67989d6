#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "presenter/CommandHandler.h"
#include "presenter/Status.h"

namespace orbilatch::presenter {
namespace {

using namespace std::chrono_literals;
using enum protocol::Command;

struct FakeRoute final : Route {
    std::optional<Failure> failure;
    std::vector<protocol::Command> carried;

    void carryOut(protocol::Command command, Done done) override {
        carried.push_back(command);
        done({"action " + std::to_string(carried.size()), failure});
    }
    std::string description() const override { return "a fake route"; }
};

TEST(CommandHandlerTest, EachCommandIsCarriedOutThenAnsweredOnceInItsVersion) {
    const struct {
        CommandReceived command;
        std::optional<Failure> routeFailure;
        std::vector<protocol::Command> carried;
        std::string acknowledgement;  // without its "type"
    } cases[] = {
        {{"8", 1, "START_PRESENTATION"}, Failure{"KEY_INJECTION_FAILED", "no uinput"}, {startPresentation},
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
        EXPECT_EQ(handled.outcome.action, c.carried.empty() ? "" : "action 1");
        EXPECT_EQ(handled.outcome.took, 3ms);
    }
}

TEST(StatusTest, TheLineFollowsTheAdapterTheWatchAndTheCommands) {
    const AgentEvent watchOn{WatchChanged{true}}, watchOff{WatchChanged{false}};
    const auto bluetooth = [](std::string state, std::string message = "") {
        return AgentEvent{BluetoothStateChanged{std::move(state), std::move(message)}};
    };
    const CommandOutcome next{"NEXT_SLIDE", "PageDown", std::nullopt, 1250us};
    const CommandOutcome failed{"START_PRESENTATION", "F5", Failure{"KEY_NOT_ON_KEYBOARD", "no F5 key"}, 40us};
    const struct {
        std::vector<std::variant<AgentEvent, CommandOutcome>> steps;
        std::string line;
    } cases[] = {
        {{bluetooth("error", "Maximum advertisements reached")},
         "Bluetooth error (Maximum advertisements reached) | watch not connected | no command yet"},
        {{watchOn, bluetooth("connected"), next, next},
         "Bluetooth connected | watch connected | NEXT_SLIDE: PageDown in 1.2 ms | 2 done"},
        {{next, failed},
         "Bluetooth starting | watch not connected | START_PRESENTATION: failed, KEY_NOT_ON_KEYBOARD (no F5 key) "
         "| 1 done, 1 failed"},
        {{watchOn, watchOff}, "Bluetooth starting | watch not connected | no command yet"},
    };
    for (const auto& c : cases) {
        Status status;
        for (const auto& step : c.steps) std::visit([&](const auto& s) { status.apply(s); }, step);
        EXPECT_EQ(describe(status), c.line);
    }
    EXPECT_FALSE(Status().apply(AgentEvent{}));
}

}  // namespace
}  // namespace orbilatch::presenter
