#pragma once

#include <chrono>
#include <vector>

#include "presenter/Program.h"

namespace orbilatch::presenter {

// A program found running, and since when this presenter knows it.
struct Found {
    Program* program;
    std::chrono::steady_clock::time_point since;
};

// Finds the running instances of one kind of program. An instance that went
// away is dropped between turns of the loop, after it has called the done of
// the command it was carrying out: the core holds none longer than that.
class ProgramSource {
public:
    virtual ~ProgramSource() = default;
    virtual std::vector<Found> running() = 0;
};

}  // namespace orbilatch::presenter
