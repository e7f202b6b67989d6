#include "presenter/impress/RemoteConnection.h"

#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "system/Check.h"
#include "system/ReadLines.h"

namespace orbilatch::presenter::impress {

RemoteConnection::RemoteConnection(sd_event* event, system::FileDescriptor socket, Lines lines, Ended ended)
    : socket_(std::move(socket)), lines_(std::move(lines)), ended_(std::move(ended)) {
    sd_event_source* source = nullptr;
    system::check(sd_event_add_io(event, &source, socket_.get(), EPOLLIN | EPOLLOUT, &RemoteConnection::onEvent, this),
          "sd_event_add_io");
    source_.reset(source);
}

void RemoteConnection::send(std::string_view bytes) {
    unsent_.append(bytes);
    if (connected_) flush();
}

int RemoteConnection::onEvent(sd_event_source*, int fd, uint32_t revents, void* self) {
    auto* connection = static_cast<RemoteConnection*>(self);
    if (!connection->connected_ && !connection->connect()) return 0;
    if (revents & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
        if (!system::readLines(fd, connection->splitter_, connection->lines_)) {
            connection->end();
            return 0;
        }
    }
    connection->flush();
    return 0;
}

// The first event after a non-blocking connect tells how it went.
bool RemoteConnection::connect() {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0) {
        end();
        return false;
    }
    connected_ = true;
    return true;
}

// Writes what the socket takes now and waits for room for the rest.
void RemoteConnection::flush() {
    while (!unsent_.empty()) {
        const ssize_t written = ::send(socket_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) break;
        unsent_.erase(0, static_cast<std::size_t>(written));
    }
    sd_event_source_set_io_events(source_.get(), unsent_.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT);
}

// Closing with a reset: a peer that closed first would otherwise keep its end
// in TIME_WAIT for a minute, and a server started meanwhile on the same port
// could not listen on it.
void RemoteConnection::end() {
    const linger reset{1, 0};
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    source_.reset();
    socket_.reset();
    const Ended ended = std::move(ended_);
    ended();
}

}  // namespace orbilatch::presenter::impress
