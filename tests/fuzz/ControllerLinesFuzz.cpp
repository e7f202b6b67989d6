// Any bytes a controller can write, cut into lines as the reader thread cuts
// them; the first byte says whether the watch is subscribed (bit 0) and the
// transmit queue full (bit 1). Each line has one outcome: a refusal on
// standard error, an acknowledgement reported then flushed once, or the
// shutdown sequence.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/FuzzSupport.h"
#include "main/ControllerMessage.h"
#include "system/LineSplitter.h"

using nlohmann::json;
using orbilatch::fuzz::check;
using Lines = std::vector<std::string>;

namespace {

// What an accepted acknowledgement must give: reported, then one attempt.
Lines expected(const orbilatch::agent::AcknowledgementMessage& message, bool subscribed, bool queueFull) {
    const json received{{"type", "ack_received_from_controller"}, {"commandId", message.commandId},
                        {"status", message.status}};
    if (!subscribed) return {received.dump(), json{{"type", "ack_waiting_for_subscriber"}, {"reason", "controller_ack"}}.dump()};
    // The frame as the watch knows it: done E, not done D, no presentation X (version 2 only).
    const bool versionTwo = message.protocolVersion == 2;
    const char* result = message.status == "executed"                              ? "E"
                         : versionTwo && message.errorCode == "PRESENTATION_ENDED" ? "X"
                                                                                   : "D";
    const std::string text = (versionTwo ? "OL2|A|" : "PP1|A|") + message.commandId + "|" + result;
    const json report = queueFull ? json{{"type", "ack_notify_backpressure"}, {"reason", "controller_ack"}}
                                  : json{{"type", "ack_notified"}, {"frame", text}, {"reason", "controller_ack"}};
    return {received.dump(), "frame " + text, report.dump()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool subscribed = (data[0] & 1) != 0;
    const bool queueFull = (data[0] & 2) != 0;
    orbilatch::fuzz::Bench bench;
    bench.subscribe(subscribed);
    bench.manager->transmitQueueHasRoom = !queueFull;
    bench.transcript.take();

    orbilatch::system::LineSplitter splitter;
    Lines lines = splitter.feed({reinterpret_cast<const char*>(data) + 1, size - 1});
    if (auto last = splitter.finish()) lines.push_back(std::move(*last));
    for (const std::string& line : lines) {
        bench.peripheral.handleInputLine(line);
        bench.queue.advance(std::chrono::milliseconds(50));
        const Lines outcome = bench.transcript.take();
        const auto message = orbilatch::agent::parseControllerMessage(line);
        if (std::holds_alternative<orbilatch::agent::MalformedMessage>(message)) {
            check(outcome == Lines{"err: Ignoring malformed controller input"}, "malformed: one diagnostic", outcome);
        } else if (std::holds_alternative<orbilatch::agent::UnsupportedMessage>(message)) {
            check(outcome == Lines{"err: Ignoring unsupported controller input"}, "unsupported: one diagnostic", outcome);
        } else if (std::holds_alternative<orbilatch::agent::ShutdownMessage>(message)) {
            check(outcome.size() == 4 && outcome.back() == "exit", "shutdown: withdraw, report, exit", outcome);
            return 0;
        } else if (const auto& acknowledgement = std::get<orbilatch::agent::AcknowledgementMessage>(message);
                   acknowledgement.commandId.size() > 12) {
            check(outcome == Lines{"err: Ignoring oversized acknowledgement for " + acknowledgement.commandId},
                  "oversized: one diagnostic naming the commandId", outcome);
        } else {
            Lines seen;
            for (const auto& out : outcome)
                seen.push_back(out.starts_with("bt: updateValue ") ? "frame " + out.substr(16, out.find(" on ") - 16)
                                                                  : json::parse(out.substr(5), nullptr, false).dump());
            check(seen == expected(acknowledgement, subscribed, queueFull),
                  "an acknowledgement is reported as sent, then flushed once", outcome);
        }
    }
    return 0;
}
