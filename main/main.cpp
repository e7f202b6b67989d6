#include <cstdlib>
#include <string>
#include <string_view>

#include "bluetooth/bluez/BluezPeripheral.h"
#include "main/OrbiLatchBlePeripheral.h"
#include "output/StandardStreams.h"
#include "system/EventLoop.h"
#include "system/LineQueue.h"
#include "system/MonotonicClock.h"
#include "system/StdinReader.h"

// SIGINT and SIGTERM keep their default action until the loop takes them over,
// just before it runs: a signal during start-up ends the process as it would
// end any other.
int main() {
    using namespace orbilatch;

    system::EventLoop loop;
    output::StandardStreams output;
    agent::OrbiLatchBlePeripheral peripheral(
        {
            .queue = loop,
            .output = output,
            .monotonicSeconds = system::monotonicSeconds,
            .exitProcess = [] { std::exit(0); },
        },
        bluetooth::bluez::bluezPeripheralManagers(loop, [&output](std::string_view message) {
            output.stderr(message);
        }));

    // A few hundred lines a turn keep a flood cheap, and a signal or bluetoothd
    // waits for no more than that.
    system::LineQueue lines(loop, 256, [&](std::string_view line) { peripheral.handleInputLine(line); });
    // Let go of at once: the reader runs until the process exits, and a thread
    // that ended with its input must not wait for a join that exit() never does.
    system::startStdinReader([&](std::vector<std::string>& batch) { lines.push(batch); }).detach();
    loop.onTerminationSignals([&] { peripheral.shutdown(); });

    loop.run();
    // Only a failing loop gets here. Leave without unwinding: the reader thread
    // may still be posting to the loop.
    std::exit(0);
}
