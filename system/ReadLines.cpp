#include "system/ReadLines.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace orbilatch::system {

bool readLines(int fd, LineSplitter& splitter, const DeliverLines& deliver) {
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (count <= 0) break;
        std::vector<std::string> lines = splitter.feed({chunk, static_cast<std::size_t>(count)});
        if (!lines.empty()) deliver(lines);
    }
    if (auto last = splitter.finish()) {
        std::vector<std::string> lines{std::move(*last)};
        deliver(lines);
    }
    return false;
}

}  // namespace orbilatch::system
