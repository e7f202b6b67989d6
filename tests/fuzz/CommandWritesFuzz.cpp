// Write requests as any central can make them: the input is a sequence of
// records, each [flags][elapsed in 10 ms steps][length][value bytes]. Flags:
// bit 0 the request comes from the other central, bit 1 it is for the
// acknowledgement characteristic, bit 2 it carries no value, bit 3 the watch
// drops its subscription (or takes it up again) first.
//
// Every request is answered exactly once and reported at most once; no more
// than ten requests are admitted within any second, and one is refused only
// when ten were; an admitted value is reported as decodeCommandFrame reads it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/CommandFrame.h"
#include "fuzz/FuzzSupport.h"

namespace {

using nlohmann::json;
using orbilatch::bluetooth::AttError;
using orbilatch::fuzz::check;
using orbilatch::fuzz::Context;
using orbilatch::fuzz::joined;
using Lines = std::vector<std::string>;

std::string answer(std::uint64_t handle, AttError result) {
    return "bt: respond " + std::to_string(handle) + " " + std::to_string(static_cast<int>(result));
}

json eventIn(const std::string& line, const Context& context) {
    check(line.starts_with("out: "), "an event line", context);
    return json::parse(line.substr(5), nullptr, /*allow_exceptions=*/false);
}

json expectedEvent(const std::vector<std::uint8_t>& value) {
    const auto decoded = orbilatch::frame::decodeCommandFrame(value);
    if (const auto* command = std::get_if<orbilatch::frame::DecodedCommandFrame>(&decoded)) {
        return {{"type", "command_received"},
                {"protocolVersion", command->protocolVersion},
                {"commandId", command->commandId},
                {"command", command->command}};
    }
    return {{"type", "malformed_command"}, {"message", std::get<orbilatch::frame::FrameError>(decoded).description}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orbilatch::fuzz::Bench bench;
    bench.advertise();
    bench.subscribe(bench.watch);
    bench.take();
    bool watchSubscribed = true;

    // Virtual times of admitted requests, to judge the limit over any window.
    std::deque<double> admitted;
    std::uint64_t handle = 0;

    std::size_t at = 0;
    while (at + 3 <= size) {
        const std::uint8_t flags = data[at];
        bench.clockSeconds += data[at + 1] * 0.01;
        const std::size_t length = std::min<std::size_t>(data[at + 2], size - at - 3);
        const std::vector<std::uint8_t> bytes(data + at + 3, data + at + 3 + length);
        at += 3 + length;

        if (flags & 8) {
            watchSubscribed ? bench.unsubscribe(bench.watch) : bench.subscribe(bench.watch);
            watchSubscribed = !watchSubscribed;
            bench.take();
        }

        const bool fromWatch = (flags & 1) == 0;
        const bool toCommand = (flags & 2) == 0;
        orbilatch::bluetooth::AttRequest request{
            .characteristicUuid = toCommand ? orbilatch::commandCharacteristicUUID
                                            : orbilatch::acknowledgementCharacteristicUUID,
            .central = fromWatch ? bench.watch : bench.otherCentral,
            .value = {},
            .replyKey = ++handle,
        };
        if ((flags & 4) == 0) request.value = bytes;
        bench.peripheral.didReceiveWriteRequests(*bench.manager, {request});
        const Lines outcome = bench.take();
        const Context context = [&] { return "request " + std::to_string(handle) + " gave" + joined(outcome); };

        if (!toCommand) {
            check(outcome == Lines{answer(handle, AttError::requestNotSupported)},
                  "another characteristic: answered 6, nothing reported", context);
            continue;
        }
        if (!fromWatch || !watchSubscribed) {
            check(outcome == Lines{answer(handle, AttError::unlikelyError)},
                  "not the subscribed watch: answered 14, nothing reported", context);
            continue;
        }

        const double now = bench.clockSeconds;
        const auto withinLastSecond =
            std::ranges::count_if(admitted, [now](double then) { return now - then < 1.0; });
        if (outcome.size() == 2 && outcome[0] == answer(handle, AttError::insufficientResources)) {
            check(withinLastSecond == 10, "refused only when ten were admitted within the last second", context);
            check(eventIn(outcome[1], context) ==
                      json{{"type", "malformed_command"}, {"message", "BLE command rate limit exceeded"}},
                  "a refusal by the limit is reported", context);
            continue;
        }
        check(withinLastSecond < 10, "never more than ten within a second", context);
        admitted.push_back(now);
        while (!admitted.empty() && now - admitted.front() >= 1.0) admitted.pop_front();

        if (!request.value) {
            check(outcome == Lines{answer(handle, AttError::invalidAttributeValueLength)},
                  "no value: answered 13, nothing reported", context);
            continue;
        }
        const json expected = expectedEvent(*request.value);
        const AttError result =
            expected["type"] == "command_received" ? AttError::success : AttError::invalidAttributeValueLength;
        check(outcome.size() == 2 && eventIn(outcome[0], context) == expected && outcome[1] == answer(handle, result),
              "an admitted value is reported as it decodes, then answered", context);
    }
    return 0;
}
