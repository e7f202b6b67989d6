// Any bytes a controller can write on standard input, split into lines as the
// reader thread does and handed to the peripheral one at a time, with the
// main queue run 50 ms on after each. The first byte sets the platform up:
// bit 0, a watch is subscribed; bit 1, the transmit queue is full.
//
// Each line has exactly one outcome: one of the three refusals on standard
// error, an acknowledgement reported and then flushed, or the shutdown
// sequence, after which the process is gone. Every event line is one JSON
// object that reads back to the values the controller sent.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/AckFrame.h"
#include "fuzz/FuzzSupport.h"
#include "main/ControllerMessage.h"
#include "system/LineSplitter.h"
#include "text/Utf8.h"

namespace {

using nlohmann::json;
using orbilatch::fuzz::check;
using orbilatch::fuzz::Context;
using orbilatch::fuzz::joined;
using Lines = std::vector<std::string>;

constexpr std::string_view eventPrefix = "out: ";

// The event of a transcript line, read back with a JSON reader.
json eventIn(const std::string& line, const Context& context) {
    check(line.starts_with(eventPrefix), "an event line", context);
    const std::string_view text = std::string_view(line).substr(eventPrefix.size());
    check(text.find('\n') == std::string_view::npos, "an event stays on one line", context);
    check(orbilatch::text::repairUtf8(text) == text, "an event line is UTF-8", context);
    json event = json::parse(text, nullptr, /*allow_exceptions=*/false);
    check(event.is_object() && event.contains("type") && event["type"].is_string(), "an event is an object with a type",
          context);
    return event;
}

std::string expectedFrame(const orbilatch::AcknowledgementMessage& message) {
    const auto frame = orbilatch::frame::encodeAckFrame(message.protocolVersion, message.commandId, message.status,
                                                        message.errorCode);
    return frame ? std::string(frame->begin(), frame->end()) : std::string();
}

void checkAcknowledged(const Lines& outcome, const orbilatch::AcknowledgementMessage& message, bool subscribed,
                       bool queueFull, const Context& context) {
    check(!outcome.empty(), "an acknowledgement is reported", context);
    const json received = eventIn(outcome[0], context);
    check(received == json{{"type", "ack_received_from_controller"},
                           {"commandId", message.commandId},
                           {"status", message.status}},
          "ack_received_from_controller carries the controller's commandId and status", context);

    if (!subscribed) {
        check(outcome.size() == 2 && eventIn(outcome[1], context) == json{{"type", "ack_waiting_for_subscriber"},
                                                                          {"reason", "controller_ack"}},
              "without a watch the flush reports the wait", context);
        return;
    }
    const std::string frame = expectedFrame(message);
    check(!frame.empty() && frame.size() <= 20, "an accepted acknowledgement has a frame of at most 20 bytes",
          context);
    check(outcome.size() == 3, "one notification attempt, then its report", context);
    check(outcome[1].starts_with("bt: updateValue " + frame + " on "), "the frame is offered to the watch", context);
    const json report = eventIn(outcome[2], context);
    if (queueFull) {
        check(report == json{{"type", "ack_notify_backpressure"}, {"reason", "controller_ack"}},
              "a full queue is reported as back-pressure", context);
    } else {
        check(report == json{{"type", "ack_notified"}, {"frame", frame}, {"reason", "controller_ack"}},
              "ack_notified carries the frame", context);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool subscribed = (data[0] & 1) != 0;
    const bool queueFull = (data[0] & 2) != 0;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);

    orbilatch::fuzz::Bench bench;
    bench.advertise();
    if (subscribed) bench.subscribe(bench.watch);
    bench.manager->transmitQueueHasRoom = !queueFull;
    bench.take();

    orbilatch::LineSplitter splitter;
    Lines lines = splitter.feed(stream);
    if (auto last = splitter.finish()) lines.push_back(std::move(*last));

    for (const std::string& line : lines) {
        check(line.find('\n') == std::string::npos && orbilatch::text::repairUtf8(line) == line,
              "the reader hands over one line of UTF-8", line);

        bench.peripheral.handleInputLine(line);
        bench.queue.advance(std::chrono::milliseconds(50));
        const Lines outcome = bench.take();
        const Context context = [&] { return "line " + json(line).dump() + " gave" + joined(outcome); };

        const auto message = orbilatch::parseControllerMessage(line);
        if (std::holds_alternative<orbilatch::MalformedMessage>(message)) {
            check(outcome == Lines{"err: Ignoring malformed controller input"}, "malformed: one diagnostic", context);
        } else if (std::holds_alternative<orbilatch::UnsupportedMessage>(message)) {
            check(outcome == Lines{"err: Ignoring unsupported controller input"}, "unsupported: one diagnostic",
                  context);
        } else if (std::holds_alternative<orbilatch::ShutdownMessage>(message)) {
            check(outcome == Lines{"bt: stopAdvertising", "bt: removeAllServices",
                                   R"(out: {"type":"ble_state_changed","state":"disconnected","message":"shutdown"})",
                                   "exit"},
                  "shutdown: withdraw, report, exit 50 ms later", context);
            return 0;  // the process has ended
        } else {
            const auto& acknowledgement = std::get<orbilatch::AcknowledgementMessage>(message);
            if (acknowledgement.commandId.size() > 12) {
                check(outcome == Lines{"err: Ignoring oversized acknowledgement for " + acknowledgement.commandId},
                      "oversized: one diagnostic naming the commandId", context);
            } else {
                checkAcknowledged(outcome, acknowledgement, subscribed, queueFull, context);
            }
        }
    }
    check(!bench.exited, "only a shutdown line ends the process");
    return 0;
}
