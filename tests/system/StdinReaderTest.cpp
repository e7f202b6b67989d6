#include "system/StdinReader.h"

#include <pthread.h>

#include <csignal>

#include <gtest/gtest.h>

#include "support/FdPairs.h"
#include "system/WriteAll.h"

namespace orbilatch::system {
namespace {

using Lines = std::vector<std::string>;

bool terminationSignalsBlocked() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
}

// The reader's thread must never take SIGINT or SIGTERM, and starting it must
// leave the starting thread's signals as they were. (A million lines pass it in
// the process tests.)
TEST(StdinReader, DeliversEveryLineOfAPipeInOrderOnAThreadDeafToTerminationSignals) {
    auto pipe = tests::makePair(false);
    Lines delivered;
    bool deafReader = true;
    std::thread reader = startStdinReader(
        [&](Lines& lines) {
            deafReader = deafReader && terminationSignalsBlocked();
            delivered.insert(delivered.end(), lines.begin(), lines.end());
        },
        pipe.readEnd.get());
    EXPECT_FALSE(terminationSignalsBlocked());
    writeAll(pipe.writeEnd.get(), "one\ntwo\nunterminated");
    pipe.writeEnd.reset();
    reader.join();

    EXPECT_EQ(delivered, (Lines{"one", "two", "unterminated"}));
    EXPECT_TRUE(deafReader);
}

}  // namespace
}  // namespace orbilatch::system
