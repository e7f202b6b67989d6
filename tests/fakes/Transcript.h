#pragma once

#include <string>
#include <utility>
#include <vector>

namespace orbilatch::testing {

// What the agent did, in order: platform calls, event lines and diagnostics in
// one list, so tests see their interleaving.
class Transcript {
public:
    void add(std::string line) { lines_.push_back(std::move(line)); }
    std::vector<std::string> take() { return std::exchange(lines_, {}); }

private:
    std::vector<std::string> lines_;
};

}  // namespace orbilatch::testing
