#pragma once

#include <string_view>
#include <unistd.h>

#include "output/Output.h"

namespace orbilatch::output {

// Event lines to one descriptor, diagnostic lines to another, each line in one
// write(2) and never cut. Write failures are ignored. The descriptors are
// borrowed, not owned.
class StandardStreams : public Output {
public:
    explicit StandardStreams(int eventFd = STDOUT_FILENO, int diagnosticFd = STDERR_FILENO);

    void emit(const Event& event) override;
    void stderr(std::string_view message) override;

private:
    int eventFd_;
    int diagnosticFd_;
};

}  // namespace orbilatch::output
