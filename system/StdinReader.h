#pragma once

#include <thread>
#include <unistd.h>

#include "system/ReadLines.h"

namespace orbilatch::system {

// Starts a thread that reads fd to its end with blocking reads, which work for
// pipes, terminals, regular files and /dev/null alike, and hands the lines of
// each read to deliver, in order, on that thread (see readLines). Delivery may
// block: the next read waits for it. The thread owns everything it uses and
// never takes SIGINT or SIGTERM. The caller joins it or lets it go.
std::thread startStdinReader(DeliverLines deliver, int fd = STDIN_FILENO);

}  // namespace orbilatch::system
