#pragma once

#include <optional>
#include <string>

#include "presenter/AgentEvent.h"
#include "presenter/CommandHandler.h"

namespace orbilatch::presenter {

// What the person at the desktop is shown: the adapter, the watch, the last
// command and how many there were.
struct Status {
    std::string bluetooth = "starting";
    std::string bluetoothMessage;
    bool watchConnected = false;
    std::optional<CommandOutcome> last;
    unsigned executed = 0;
    unsigned failed = 0;

    // True when the event changed what is shown.
    bool apply(const AgentEvent& event);
    void apply(const CommandOutcome& outcome);
};

// One line, such as
// "Bluetooth connected | watch connected | NEXT_SLIDE: PageDown in 0.3 ms | 4 done", or with a
// program driven directly "... | pdfpc slide 3/12 | NEXT_SLIDE: next in 9.1 ms | 5 done"
std::string describe(const Status& status);

}  // namespace orbilatch::presenter
