#pragma once

#include <string_view>

#include "output/Event.h"

namespace orbilatch::output {

// Where the agent reports: event lines for the controller, diagnostic lines for
// a human. Both are called on the main queue only.
class Output {
public:
    virtual ~Output() = default;

    virtual void emit(const Event& event) = 0;
    virtual void stderr(std::string_view message) = 0;
};

}  // namespace orbilatch::output
