#pragma once

#include <string>
#include <utility>
#include <vector>

#include "output/EventLine.h"
#include "output/Output.h"

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

// Records event lines as "out: <line>" and diagnostics as "err: <message>".
class RecordingOutput final : public output::Output {
public:
    explicit RecordingOutput(Transcript& transcript) : transcript_(transcript) {}

    void emit(const output::Event& event) override {
        const std::string line = output::formatEventLine(event);
        transcript_.add("out: " + line.substr(0, line.size() - 1));
    }
    void stderr(std::string_view message) override { transcript_.add("err: " + std::string(message)); }

private:
    Transcript& transcript_;
};

}  // namespace orbilatch::testing
