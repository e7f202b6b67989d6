#pragma once

#include <string>
#include <string_view>

#include "presenter/Status.h"

namespace orbilatch::presenter {

// Standard output and standard error as the person or the script sees them.
class Display {
public:
    enum class Mode {
        terminal,  // one status line, rewritten in place
        lines,     // one status line per change
        json,      // the agent's event lines, unchanged
    };

    explicit Display(Mode mode) : mode_(mode) {}
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;
    ~Display();

    void show(const Status& status);
    void event(std::string_view line);
    // A line on standard error; on a terminal the status line stays below it.
    void diagnostic(std::string_view text);

private:
    Mode mode_;
    std::string shown_;
};

}  // namespace orbilatch::presenter
