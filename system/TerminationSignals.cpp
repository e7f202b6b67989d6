#include "system/TerminationSignals.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace orbilatch::system {
namespace {

std::atomic<int> counterFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

void countDelivery(int) {
    const int savedErrno = errno;
    const std::uint64_t one = 1;
    // Fails only once the counter is gone, or were it to reach 2^64 - 1.
    [[maybe_unused]] auto written = ::write(counterFd.load(std::memory_order_relaxed), &one, sizeof one);
    errno = savedErrno;
}

}  // namespace

TerminationSignalCounter::TerminationSignalCounter() : counter_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!counter_) throw std::system_error(errno, std::generic_category(), "eventfd");
    counterFd.store(counter_.get());
    struct sigaction action {};
    action.sa_handler = countDelivery;
    sigemptyset(&action.sa_mask);
    // A write to a full pipe that the signal interrupts goes on where it was.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt_);
    sigaction(SIGTERM, &action, &previousTerminate_);
    const sigset_t signals = terminationSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

TerminationSignalCounter::~TerminationSignalCounter() {
    sigaction(SIGINT, &previousInterrupt_, nullptr);
    sigaction(SIGTERM, &previousTerminate_, nullptr);
    counterFd.store(-1);
}

std::uint64_t TerminationSignalCounter::take() {
    std::uint64_t count = 0;
    return ::read(counter_.get(), &count, sizeof count) == sizeof count ? count : 0;
}

}  // namespace orbilatch::system
