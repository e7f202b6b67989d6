#include "system/StdinReader.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "system/LineSplitter.h"
#include "system/TerminationSignals.h"

namespace orbilatch {

namespace {

constexpr std::size_t chunkBytes = 64 * 1024;

void readLines(int fd, const StdinReader::Deliver& deliver) {
    LineSplitter splitter;
    std::vector<char> chunk(chunkBytes);
    for (;;) {
        const ssize_t count = ::read(fd, chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        std::vector<std::string> lines = splitter.feed({chunk.data(), static_cast<std::size_t>(count)});
        if (!lines.empty()) deliver(lines);
    }
    if (auto last = splitter.finish()) {
        std::vector<std::string> lines{std::move(*last)};
        deliver(lines);
    }
}

}  // namespace

// The thread owns everything it uses, so it may outlive this object. It never
// takes SIGINT or SIGTERM: the loop's own thread takes them and so records
// each one before the loop goes on.
StdinReader::StdinReader(Deliver deliver, int fd) {
    const TerminationSignalsBlocked blocked;
    thread_ = std::thread([deliver = std::move(deliver), fd] { readLines(fd, deliver); });
}

// The process ends by exit() while the thread is still blocked in read(), so
// there is nothing to wait for here.
StdinReader::~StdinReader() {
    if (thread_.joinable()) thread_.detach();
}

void StdinReader::join() { thread_.join(); }

}  // namespace orbilatch
