#include <gtest/gtest.h>

#include "presenter/Status.h"

namespace orbilatch::presenter {
namespace {

TEST(StatusTest, TheLineFollowsTheAdapterTheWatchAndTheCommands) {
    using namespace std::chrono_literals;
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
