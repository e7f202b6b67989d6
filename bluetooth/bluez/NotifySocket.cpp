#include "bluetooth/bluez/NotifySocket.h"

#include <cerrno>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace orbilatch::bluetooth::bluez {
namespace {

// Hang-ups (EPOLLHUP, EPOLLERR) are always reported; bluetoothd never writes
// to the socket, so readability is not watched.
constexpr std::uint32_t hangUpEvents = EPOLLRDHUP;

}  // namespace

std::unique_ptr<NotifySocket> NotifySocket::open(sd_event* loop, Listener& listener, std::string device,
                                                 Uuid characteristic, FileDescriptor& peerEnd) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) < 0) return nullptr;
    FileDescriptor ours(ends[0]);
    peerEnd = FileDescriptor(ends[1]);

    std::unique_ptr<NotifySocket> socket(
        new NotifySocket(listener, std::move(device), characteristic, std::move(ours)));
    sd_event_source* watch = nullptr;
    const int r = sd_event_add_io(loop, &watch, socket->fd_.get(), hangUpEvents, onEvent, socket.get());
    if (r < 0) {
        errno = -r;
        return nullptr;
    }
    socket->watch_.reset(watch);
    return socket;
}

NotifySocket::NotifySocket(Listener& listener, std::string device, Uuid characteristic, FileDescriptor fd)
    : listener_(listener), device_(std::move(device)), characteristic_(characteristic), fd_(std::move(fd)) {}

NotifySocket::SendResult NotifySocket::send(std::span<const std::uint8_t> datagram) {
    // MSG_NOSIGNAL: a socket bluetoothd has closed must not raise SIGPIPE.
    if (::send(fd_.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0)
        return SendResult::taken;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SendResult::failed;
    sd_event_source_set_io_events(watch_.get(), hangUpEvents | EPOLLOUT);
    return SendResult::full;
}

int NotifySocket::onEvent(sd_event_source*, int, std::uint32_t events, void* userdata) {
    auto* socket = static_cast<NotifySocket*>(userdata);
    Listener& listener = socket->listener_;
    if (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) {
        sd_event_source_set_enabled(socket->watch_.get(), SD_EVENT_OFF);
        const std::string device = socket->device_;
        const Uuid characteristic = socket->characteristic_;
        listener.notifySocketHungUp(device, characteristic);
        return 0;
    }
    if (events & EPOLLOUT) {
        sd_event_source_set_io_events(socket->watch_.get(), hangUpEvents);
        listener.notifySocketWritable();
    }
    return 0;
}

}  // namespace orbilatch::bluetooth::bluez
