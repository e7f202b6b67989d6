#include "system/StdinReader.h"

#include <fcntl.h>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "support/FdPairs.h"

namespace orbilatch {
namespace {

using Lines = std::vector<std::string>;

TEST(StdinReader, DeliversEveryLineOfAPipeInOrderUntilItCloses) {
    auto pipe = tests::makePipe();
    Lines expected;
    std::string input;
    for (int i = 0; i < 20000; ++i) {  // several times the pipe's capacity
        expected.push_back("line " + std::to_string(i));
        input += expected.back() + (i % 2 ? "\n" : "\r\n");
    }
    expected.push_back("unterminated");
    input += expected.back();

    Lines delivered;
    StdinReader reader([&delivered](std::string line) { delivered.push_back(std::move(line)); },
                       pipe.readEnd.get());
    tests::writeAll(pipe.writeEnd.get(), input);
    pipe.writeEnd.reset();
    reader.join();

    EXPECT_EQ(delivered, expected);
}

TEST(StdinReader, EndsAtOnceOnDevNull) {
    FileDescriptor devNull(::open("/dev/null", O_RDONLY));
    ASSERT_GE(devNull.get(), 0);
    int deliveries = 0;
    StdinReader reader([&deliveries](std::string) { ++deliveries; }, devNull.get());
    reader.join();
    EXPECT_EQ(deliveries, 0);
}

TEST(StdinReader, DestructionDoesNotWaitForInputAndTheThreadLivesOn) {
    auto pipe = tests::makePipe();
    auto lastLine = std::make_shared<std::promise<std::string>>();
    {
        StdinReader reader([lastLine](std::string line) { lastLine->set_value(std::move(line)); },
                           pipe.readEnd.get());
    }
    tests::writeAll(pipe.writeEnd.get(), "after");
    pipe.writeEnd.reset();
    EXPECT_EQ(lastLine->get_future().get(), "after");
}

}  // namespace
}  // namespace orbilatch
