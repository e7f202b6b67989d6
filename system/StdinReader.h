#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace orbilatch {

// Reads a descriptor on its own thread with blocking reads, which work for
// pipes, terminals, regular files and /dev/null alike, and hands the lines
// (see LineSplitter) of each read to deliver, in order, on that thread. End of
// input or a read error ends the thread quietly, after the unterminated last
// line if there is one. Delivery may block: the next read waits for it.
class StdinReader {
public:
    using Deliver = std::function<void(std::vector<std::string>& lines)>;

    explicit StdinReader(Deliver deliver, int fd = STDIN_FILENO);
    StdinReader(const StdinReader&) = delete;
    StdinReader& operator=(const StdinReader&) = delete;
    ~StdinReader();

    // Blocks until the input has ended and its last line was delivered.
    void join();

private:
    std::thread thread_;
};

}  // namespace orbilatch
