#include "output/StandardStreams.h"

#include <string>

#include "output/EventLine.h"
#include "system/WriteAll.h"

namespace orbilatch::output {

StandardStreams::StandardStreams(int eventFd, int diagnosticFd) : eventFd_(eventFd), diagnosticFd_(diagnosticFd) {}

void StandardStreams::emit(const Event& event) { system::writeAll(eventFd_, formatEventLine(event)); }

void StandardStreams::stderr(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 1);
    line.append(message);
    line += '\n';
    system::writeAll(diagnosticFd_, line);
}

}  // namespace orbilatch::output
