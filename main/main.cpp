#include <pthread.h>

#include <csignal>
#include <cstdlib>

#include "bluetooth/bluez/BluezPeripheralManager.h"
#include "system/EventLoop.h"
#include "system/MonotonicClock.h"
#include "main/OrbiLatchBlePeripheral.h"
#include "system/StdinReader.h"
#include "output/StandardStreams.h"

namespace {

// Blocked before any other thread exists, so every thread inherits the mask and
// the signals reach only the event loop's signalfd.
void blockTerminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

}  // namespace

int main() {
    using namespace orbilatch;

    blockTerminationSignals();

    EventLoop loop;
    output::StandardStreams output;
    OrbiLatchBlePeripheral peripheral(
        {
            .queue = loop,
            .output = output,
            .monotonicSeconds = monotonicSeconds,
            .exitProcess = [] { std::exit(0); },
        },
        bluetooth::bluez::makeBluezPeripheralManagerFactory(loop.handle()));

    // Let go of at once: the reader thread runs until the process exits, and a
    // thread that ended with its input must not wait for a join that exit()
    // never does.
    StdinReader([&](std::string line) {
        loop.post([&peripheral, line = std::move(line)] { peripheral.handleInputLine(line); });
    });
    loop.onTerminationSignals([&] { peripheral.shutdown(); });

    loop.run();
    // Only a failing loop gets here. Leave without unwinding: the reader thread
    // may still be posting to the loop.
    std::exit(0);
}
