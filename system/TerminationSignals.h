#pragma once

#include <pthread.h>

#include <csignal>

namespace orbilatch {

// SIGINT and SIGTERM: once the event loop takes them over, only its signalfd
// may receive them, so every thread must have them blocked.
inline sigset_t terminationSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Blocks them in the calling thread while it lives; a thread started meanwhile
// keeps them blocked for good.
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

}  // namespace orbilatch
