#include "presenter/Status.h"

#include <cstdio>

namespace orbilatch::presenter {
namespace {

std::string milliseconds(std::chrono::microseconds took) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(took.count()) / 1000.0);
    return text;
}

std::string describeLast(const CommandOutcome& last) {
    std::string text = (last.where.empty() ? "" : last.where + " | ") + last.command + ": ";
    if (last.failure) return text + "failed, " + last.failure->code + " (" + last.failure->reason + ")";
    return text + (last.action.empty() ? "done" : last.action) + " in " + milliseconds(last.took);
}

}  // namespace

bool Status::apply(const AgentEvent& event) {
    if (const auto* state = std::get_if<BluetoothStateChanged>(&event)) {
        bluetooth = state->state;
        bluetoothMessage = state->message;
        return true;
    }
    if (const auto* watch = std::get_if<WatchChanged>(&event)) {
        watchConnected = watch->connected;
        return true;
    }
    return false;
}

void Status::apply(const CommandOutcome& outcome) {
    ++(outcome.failure ? failed : executed);
    last = outcome;
}

std::string describe(const Status& status) {
    std::string line = "Bluetooth " + status.bluetooth;
    if (!status.bluetoothMessage.empty()) line += " (" + status.bluetoothMessage + ")";
    line += status.watchConnected ? " | watch connected" : " | watch not connected";
    line += " | " + (status.last ? describeLast(*status.last) : std::string("no command yet"));
    if (status.executed + status.failed > 0) {
        line += " | " + std::to_string(status.executed) + " done";
        if (status.failed > 0) line += ", " + std::to_string(status.failed) + " failed";
    }
    return line;
}

}  // namespace orbilatch::presenter
