#include <gtest/gtest.h>

#include "presenter/Status.h"

namespace orbilatch::presenter {
namespace {

TEST(StatusTest, TheLineFollowsTheAdapterTheWatchAndTheCommands) {
    using namespace std::chrono_literals;
    using Step = std::variant<AgentEvent, CommandOutcome>;
    const CommandOutcome next{"NEXT_SLIDE", "PageDown", std::nullopt, 1250us};
    const CommandOutcome failed{"START_PRESENTATION", "F5", KeyFailure{"KEY_NOT_ON_KEYBOARD", "no F5 key"}, 40us};
    struct Case {
        std::vector<Step> steps;
        std::string line;
    };
    const Case cases[] = {
        {{}, "Bluetooth starting | watch not connected | no command yet"},
        {{AgentEvent{BluetoothStateChanged{"advertising", ""}}},
         "Bluetooth advertising | watch not connected | no command yet"},
        {{AgentEvent{BluetoothStateChanged{"error", "Maximum advertisements reached"}}},
         "Bluetooth error (Maximum advertisements reached) | watch not connected | no command yet"},
        {{AgentEvent{WatchChanged{true}}, AgentEvent{BluetoothStateChanged{"connected", ""}}, next, next},
         "Bluetooth connected | watch connected | NEXT_SLIDE: PageDown in 1.2 ms | 2 done"},
        {{next, failed},
         "Bluetooth starting | watch not connected | START_PRESENTATION: failed, KEY_NOT_ON_KEYBOARD (no F5 key) "
         "| 1 done, 1 failed"},
        {{AgentEvent{WatchChanged{true}}, AgentEvent{WatchChanged{false}}},
         "Bluetooth starting | watch not connected | no command yet"},
    };
    for (const Case& c : cases) {
        Status status;
        for (const Step& step : c.steps) {
            std::visit([&](const auto& s) { status.apply(s); }, step);
        }
        EXPECT_EQ(describe(status), c.line);
    }
    EXPECT_FALSE(Status().apply(AgentEvent{}));
}

}  // namespace
}  // namespace orbilatch::presenter
