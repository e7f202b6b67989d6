#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "system/FileDescriptor.h"

namespace orbilatch::tests {

struct FdPair {
    system::FileDescriptor readEnd;
    system::FileDescriptor writeEnd;
};

// A sequenced-packet pair keeps the boundaries of writes: one receive returns
// what one write sent.
inline FdPair makePair(bool keepWrites) {
    int fds[2];
    if (keepWrites) ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds);
    else if (::pipe(fds) != 0) fds[0] = fds[1] = -1;
    return {system::FileDescriptor(fds[0]), system::FileDescriptor(fds[1])};
}

inline std::string readAll(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(count));
    return all;
}

}  // namespace orbilatch::tests
