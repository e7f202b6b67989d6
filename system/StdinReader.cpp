#include "system/StdinReader.h"

#include <utility>

#include "system/TerminationSignals.h"

namespace orbilatch::system {

// The loop's own thread takes SIGINT and SIGTERM, and so records each one
// before the loop goes on.
std::thread startStdinReader(DeliverLines deliver, int fd) {
    const TerminationSignalsBlocked blocked;
    return std::thread([deliver = std::move(deliver), fd] {
        LineSplitter splitter;
        readLines(fd, splitter, deliver);
    });
}

}  // namespace orbilatch::system
