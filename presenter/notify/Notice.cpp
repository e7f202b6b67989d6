#include "presenter/notify/Notice.h"

#include "presenter/Failures.h"
#include "protocol/Events.h"

namespace orbilatch::presenter::notify {
namespace {

namespace state = protocol::state;
using Urgency = Notice::Urgency;

constexpr std::string_view checkHint = "orbilatch-present --check says what is missing.";

// The adapter as the person needs to know it.
enum class Radio { starting, ready, off, unavailable, stopping };

Radio radioOf(const Status& status) {
    const std::string& bluetooth = status.bluetooth;
    if (bluetooth == Status{}.bluetooth) return Radio::starting;
    if (bluetooth == state::advertising || bluetooth == state::connected) return Radio::ready;
    if (bluetooth == state::poweredOff) return Radio::off;
    if (bluetooth == state::disconnected) {
        // Without a message the watch left and advertising follows; with one,
        // bluetoothd went away, unless the agent is stopping.
        if (status.bluetoothMessage.empty()) return Radio::ready;
        if (status.bluetoothMessage == state::shutdownMessage) return Radio::stopping;
    }
    return Radio::unavailable;
}

std::optional<Notice> radioNotice(const Status& before, const Status& now) {
    const Radio was = radioOf(before), is = radioOf(now);
    if (was == is) return std::nullopt;
    switch (is) {
        case Radio::off:
            return Notice{"Bluetooth is off", "Switch it on to use the watch.", Urgency::critical};
        case Radio::unavailable: {
            const std::string why = now.bluetoothMessage.empty() ? "Bluetooth " + now.bluetooth : now.bluetoothMessage;
            return Notice{"Bluetooth is unavailable", why + ". " + std::string(checkHint), Urgency::critical};
        }
        case Radio::ready:
            if (was == Radio::off || was == Radio::unavailable) return Notice{"Bluetooth is back", "Waiting for the watch."};
            return std::nullopt;
        case Radio::starting:
        case Radio::stopping:
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Notice> commandNotice(const Status& before, const Status& now) {
    const bool newOutcome = now.executed + now.failed != before.executed + before.failed;
    if (!newOutcome || !now.last || !now.last->failure) return std::nullopt;
    const Failure& failure = *now.last->failure;
    if (failure.code == code::keyInjectionFailed) return keysCannotBePressed(failure.reason);
    return Notice{now.last->command + " failed", failure.reason};
}

}  // namespace

std::optional<Notice> noticeFor(const Status& before, const Status& now) {
    if (auto notice = commandNotice(before, now)) return notice;
    if (auto notice = radioNotice(before, now)) return notice;
    if (before.watchConnected == now.watchConnected) return std::nullopt;
    if (now.watchConnected) return Notice{"Watch connected", "Its taps change the slides."};
    return Notice{"Watch left", "Waiting for it to come back."};
}

Notice keysCannotBePressed(std::string_view reason) {
    return {"Keys cannot be pressed", std::string(reason) + ". " + std::string(checkHint), Urgency::critical};
}

}  // namespace orbilatch::presenter::notify
