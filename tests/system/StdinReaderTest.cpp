#include "system/StdinReader.h"

#include <fcntl.h>
#include <pthread.h>

#include <csignal>
#include <future>
#include <memory>

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
    StdinReader reader(
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

TEST(StdinReader, EndsAtOnceOnDevNullAndOutlivesItsOwner) {
    FileDescriptor devNull(::open("/dev/null", O_RDONLY));
    int deliveries = 0;
    StdinReader([&deliveries](Lines&) { ++deliveries; }, devNull.get()).join();
    EXPECT_EQ(deliveries, 0);

    auto pipe = tests::makePair(false);
    auto lastLine = std::make_shared<std::promise<std::string>>();
    StdinReader([lastLine](Lines& lines) { lastLine->set_value(lines.back()); }, pipe.readEnd.get());
    tests::writeAll(pipe.writeEnd.get(), "after");
    pipe.writeEnd.reset();
    EXPECT_EQ(lastLine->get_future().get(), "after");
}

}  // namespace
}  // namespace orbilatch
