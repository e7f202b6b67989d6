#pragma once

#include <string>

#include "fakes/Transcript.h"
#include "output/EventLine.h"
#include "output/Output.h"

namespace orbilatch::testing {

// Records event lines as "out: <line>" and diagnostics as "err: <message>".
class RecordingOutput final : public output::Output {
public:
    explicit RecordingOutput(Transcript& transcript) : transcript_(transcript) {}

    void emit(const output::Event& event) override {
        std::string line = output::formatEventLine(event);
        line.pop_back();
        transcript_.add("out: " + line);
    }
    void stderr(std::string_view message) override { transcript_.add("err: " + std::string(message)); }

private:
    Transcript& transcript_;
};

}  // namespace orbilatch::testing
