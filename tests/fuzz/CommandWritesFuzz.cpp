// Write requests as any central can make them: records of [flags][elapsed in
// 10 ms steps][length][value bytes]. Flags: bit 0, from the other central;
// bit 1, for the acknowledgement characteristic; bit 2, no value; bit 3, the
// watch drops its subscription (or takes it up again) first.
//
// Every request is answered exactly once and reported at most once; never
// more than ten are admitted within any second, and one is refused only when
// ten were; an admitted value is reported as decodeCommandFrame reads it.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "frame/CommandFrame.h"
#include "fuzz/FuzzSupport.h"

using orbilatch::fuzz::check;
using Lines = std::vector<std::string>;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orbilatch::fuzz::Bench bench;
    bool subscribed = true;
    std::deque<double> admitted;  // virtual times, to judge any one-second window
    for (std::size_t at = 0, key = 1; at + 3 <= size; ++key) {
        const std::uint8_t flags = data[at];
        bench.clockSeconds += data[at + 1] * 0.01;
        const std::size_t length = std::min<std::size_t>(data[at + 2], size - at - 3);
        const std::vector<std::uint8_t> bytes(data + at + 3, data + at + 3 + length);
        at += 3 + length;
        if (flags & 8) bench.subscribe(subscribed = !subscribed);
        bench.transcript.take();

        const bool toCommand = (flags & 2) == 0;
        const bool fromWatch = (flags & 1) == 0;
        orbilatch::bluetooth::AttRequest request{
            .characteristicUuid = toCommand ? orbilatch::commandCharacteristicUUID
                                            : orbilatch::acknowledgementCharacteristicUUID,
            .central = fromWatch ? bench.watch : bench.otherCentral,
            .value = {},
            .replyKey = key,
        };
        if ((flags & 4) == 0) request.value = bytes;
        bench.peripheral.didReceiveWriteRequests(*bench.manager, {request});
        const Lines outcome = bench.transcript.take();
        const auto answered = [&](int result) { return "bt: respond " + std::to_string(key) + " " + std::to_string(result); };

        if (!toCommand || !fromWatch || !subscribed) {
            check(outcome == Lines{answered(toCommand ? 14 : 6)}, "not a command of the watch: answered, unreported",
                  outcome);
            continue;
        }
        const double now = bench.clockSeconds;
        std::erase_if(admitted, [now](double then) { return now - then >= 1.0; });
        if (!outcome.empty() && outcome[0] == answered(17)) {
            check(admitted.size() == 10 && outcome.size() == 2 && outcome[1].find("rate limit exceeded") != std::string::npos,
                  "refused and reported only when ten were admitted within the second", outcome);
            continue;
        }
        check(admitted.size() < 10, "never more than ten within a second", outcome);
        admitted.push_back(now);
        if (!request.value) {
            check(outcome == Lines{answered(13)}, "no value: answered 13, unreported", outcome);
            continue;
        }
        const auto decoded = orbilatch::frame::decodeCommandFrame(*request.value);
        const bool decodes = std::holds_alternative<orbilatch::frame::DecodedCommandFrame>(decoded);
        const std::string reported = decodes ? "\"commandId\":\"" + std::get<0>(decoded).commandId + "\""
                                             : std::get<orbilatch::frame::FrameError>(decoded).description;
        check(outcome.size() == 2 && outcome[0].find(reported) != std::string::npos &&
                  outcome[1] == answered(decodes ? 0 : 13),
              "an admitted value is reported as it decodes, then answered", outcome);
    }
    return 0;
}
