#include <gtest/gtest.h>

#include "presenter/notify/Notice.h"

namespace orbilatch::presenter::notify {
namespace {

using namespace std::chrono_literals;

// A presenter's day, one change at a time, and what the desktop is told of each.
TEST(NoticeTest, TheWatchBluetoothAndFailedCommandsAreToldEverythingElseIsNot) {
    const auto bluetooth = [](std::string state, std::string message = "") {
        return AgentEvent{BluetoothStateChanged{std::move(state), std::move(message)}};
    };
    const auto outcome = [](std::string command, std::optional<Failure> failure = std::nullopt) {
        return CommandOutcome{std::move(command), "", "PageDown", std::move(failure), 1ms};
    };
    const struct {
        std::variant<AgentEvent, CommandOutcome> change;
        std::string notice;  // "summary (critical): body", or empty for none
    } steps[] = {
        {bluetooth("advertising"), ""},
        {AgentEvent{WatchChanged{true}}, "Watch connected: Its taps change the slides."},
        {bluetooth("connected"), ""},
        {outcome("NEXT_SLIDE"), ""},
        {outcome("START_PRESENTATION", Failure{"FOCUS_ELSEWHERE", "the focus is on xterm"}),
         "START_PRESENTATION failed: the focus is on xterm"},
        {outcome("NEXT_SLIDE", Failure{"KEY_INJECTION_FAILED", "the X server on :0 is gone"}),
         "Keys cannot be pressed (critical): the X server on :0 is gone. orbilatch-present --check says what is "
         "missing."},
        {AgentEvent{WatchChanged{false}}, "Watch left: Waiting for it to come back."},
        {bluetooth("disconnected"), ""},
        {bluetooth("powered_off"), "Bluetooth is off (critical): Switch it on to use the watch."},
        {bluetooth("unavailable", "Bluetooth LE peripheral mode is unsupported"),
         "Bluetooth is unavailable (critical): Bluetooth LE peripheral mode is unsupported. orbilatch-present "
         "--check says what is missing."},
        {bluetooth("advertising"), "Bluetooth is back: Waiting for the watch."},
        {bluetooth("disconnected", "Bluetooth manager resetting"),
         "Bluetooth is unavailable (critical): Bluetooth manager resetting. orbilatch-present --check says what is "
         "missing."},
        {bluetooth("unauthorized"), ""},
        {bluetooth("advertising"), "Bluetooth is back: Waiting for the watch."},
        {bluetooth("disconnected", "shutdown"), ""},
    };
    Status status;
    for (const auto& step : steps) {
        const Status before = status;
        std::visit([&](const auto& change) { status.apply(change); }, step.change);
        const auto notice = noticeFor(before, status);
        const std::string told =
            notice ? notice->summary + (notice->urgency == Notice::Urgency::critical ? " (critical)" : "") + ": " +
                         notice->body
                   : "";
        EXPECT_EQ(told, step.notice) << describe(status);
    }
}

}  // namespace
}  // namespace orbilatch::presenter::notify
