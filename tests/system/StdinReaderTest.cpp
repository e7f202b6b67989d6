#include "system/StdinReader.h"

#include <pthread.h>

#include <csignal>

#include <gtest/gtest.h>

#include "support/FdPairs.h"

namespace orbilatch {
namespace {

using Lines = std::vector<std::string>;

bool terminationSignalsBlocked() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
}

// The reader's thread must never take SIGINT or SIGTERM, and starting it must
// leave the starting thread's signals as they were.
TEST(StdinReader, DeliversEveryLineOfAPipeInOrderOnAThreadDeafToTerminationSignals) {
    auto pipe = tests::makePair(false);
    Lines expected;
    std::string input;
    for (int i = 0; i < 20000; ++i) {  // several times the pipe's capacity
        expected.push_back("line " + std::to_string(i));
        input += expected.back() + "\n";
    }
    expected.push_back("unterminated");
    input += expected.back();

    Lines delivered;
    bool deafReader = true;
    std::thread reader = startStdinReader(
        [&](Lines& lines) {
            deafReader = deafReader && terminationSignalsBlocked();
            delivered.insert(delivered.end(), lines.begin(), lines.end());
        },
        pipe.readEnd.get());
    EXPECT_FALSE(terminationSignalsBlocked());
    tests::writeAll(pipe.writeEnd.get(), input);
    pipe.writeEnd.reset();
    reader.join();

    EXPECT_EQ(delivered, expected);
    EXPECT_TRUE(deafReader);
}

}  // namespace
}  // namespace orbilatch
