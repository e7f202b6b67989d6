#include "output/StandardStreams.h"

#include <cerrno>
#include <poll.h>
#include <string>

#include "output/EventLine.h"

namespace orbilatch::output {

namespace {

// A line goes out in one write unless the descriptor takes less; then the rest
// follows, so a reader never sees a cut line. Our end of a pipe may have been
// left non-blocking by whoever started us, hence the wait on EAGAIN.
void writeLine(int fd, std::string_view line) {
    while (!line.empty()) {
        const ssize_t written = ::write(fd, line.data(), line.size());
        if (written > 0) {
            line.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd writable{fd, POLLOUT, 0};
            ::poll(&writable, 1, -1);
        } else {
            return;
        }
    }
}

}  // namespace

StandardStreams::StandardStreams(int eventFd, int diagnosticFd) : eventFd_(eventFd), diagnosticFd_(diagnosticFd) {}

void StandardStreams::emit(const Event& event) { writeLine(eventFd_, formatEventLine(event)); }

void StandardStreams::stderr(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 1);
    line.append(message);
    line += '\n';
    writeLine(diagnosticFd_, line);
}

}  // namespace orbilatch::output
