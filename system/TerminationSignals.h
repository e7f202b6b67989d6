#pragma once

#include <pthread.h>

#include <csignal>
#include <cstdint>

#include "system/FileDescriptor.h"

namespace orbilatch::system {

// SIGINT and SIGTERM: what asks a program of ours to stop.
inline sigset_t terminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Blocks them in the calling thread while it lives; a thread started meanwhile
// keeps them blocked for good, so they are taken by the thread that counts
// them for its loop (see TerminationSignalCounter).
class TerminationSignalsBlocked {
public:
    TerminationSignalsBlocked() {
        const sigset_t signals = terminationSignals();
        pthread_sigmask(SIG_BLOCK, &signals, &previous_);
    }
    ~TerminationSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    TerminationSignalsBlocked(const TerminationSignalsBlocked&) = delete;
    TerminationSignalsBlocked& operator=(const TerminationSignalsBlocked&) = delete;

private:
    sigset_t previous_;
};

// Takes SIGINT and SIGTERM over while it lives, with a handler that only
// counts each delivery on an eventfd, which adds its writes up: two signals
// are two requests even when both arrive before anyone reads the count. (The
// kernel still merges an identical signal sent before the first is
// delivered.) Unblocks both in the calling thread, which then takes any that
// waited. One at a time in a process.
class TerminationSignalCounter {
public:
    TerminationSignalCounter();
    ~TerminationSignalCounter();
    TerminationSignalCounter(const TerminationSignalCounter&) = delete;
    TerminationSignalCounter& operator=(const TerminationSignalCounter&) = delete;

    // Readable while deliveries wait to be taken.
    int fd() const { return counter_.get(); }
    // The deliveries since the last call.
    std::uint64_t take();

private:
    FileDescriptor counter_;
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};

}  // namespace orbilatch::system
