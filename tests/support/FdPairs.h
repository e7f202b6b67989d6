#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "system/FileDescriptor.h"

namespace orbilatch::tests {

struct FdPair {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

inline FdPair makePipe() {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

// Keeps the boundaries of writes: one receive returns what one write sent.
inline FdPair makeSeqPacketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) throw std::runtime_error("socketpair failed");
    return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

inline std::string readAll(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) > 0;) all.append(buffer, static_cast<std::size_t>(count));
    return all;
}

inline void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count <= 0) throw std::runtime_error("write failed");
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

}  // namespace orbilatch::tests
