#include "bluetooth/bluez/NotifySubscriptions.h"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

#include "bluetooth/bluez/BluezErrors.h"

namespace orbilatch::bluetooth::bluez {
namespace {

// Hang-ups (EPOLLHUP, EPOLLERR) are always reported; bluetoothd never writes
// to the socket, so readability is not watched.
constexpr std::uint32_t hangUpEvents = EPOLLRDHUP;

}  // namespace

// Our end of one pair, watched on the loop.
struct NotifySubscriptions::Socket {
    NotifySubscriptions* owner;
    std::string device;
    Uuid characteristic;
    system::FileDescriptor fd;
    system::SdEventSourcePtr watch;
};

NotifySubscriptions::NotifySubscriptions(sd_event* loop, system::MainQueue& queue, Bluetoothd& bluetoothd, Listener& listener,
                                         Diagnose diagnose)
    : loop_(loop), queue_(queue), bluetoothd_(bluetoothd), listener_(listener), diagnose_(std::move(diagnose)) {}

NotifySubscriptions::~NotifySubscriptions() = default;

NotifySubscriptions::Key NotifySubscriptions::keyOf(const std::string& device, const Uuid& characteristic) {
    return {device, characteristic.toString()};
}

int NotifySubscriptions::acquire(const std::string& device, const Uuid& characteristic,
                                 const std::function<int(int fd)>& reply) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) < 0) return -errno;
    const system::FileDescriptor peerEnd(ends[1]);
    auto socket = std::make_unique<Socket>(Socket{this, device, characteristic, system::FileDescriptor(ends[0]), nullptr});
    sd_event_source* watch = nullptr;
    int r = sd_event_add_io(loop_, &watch, socket->fd.get(), hangUpEvents, onSocketEvent, socket.get());
    if (r < 0) return r;
    socket->watch.reset(watch);
    // A hang-up is seen before any queued work, so that a notification due at
    // the same moment is not sent into a socket that has already closed.
    sd_event_source_set_priority(watch, SD_EVENT_PRIORITY_IMPORTANT);

    r = reply(peerEnd.get());
    if (r < 0) {
        diagnose_(failure("cannot hand bluetoothd the notification socket of " + device, r));
        return 0;
    }
    sockets_[keyOf(device, characteristic)] = std::move(socket);
    book_.subscribed(device, characteristic);
    listener_.subscribed(device, characteristic);
    return 0;
}

bool NotifySubscriptions::send(const std::string& device, const Uuid& characteristic,
                               std::span<const std::uint8_t> value) {
    if (!book_.isSubscribed(device, characteristic)) return unreachable(device, characteristic);
    const auto found = sockets_.find(keyOf(device, characteristic));
    if (found == sockets_.end()) {
        return bluetoothd_.announceValue(characteristic, value) || unreachable(device, characteristic);
    }
    Socket& socket = *found->second;
    // MSG_NOSIGNAL: a socket bluetoothd has closed must not raise SIGPIPE.
    if (::send(socket.fd.get(), value.data(), value.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) return true;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return unreachable(device, characteristic);
    sd_event_source_set_io_events(socket.watch.get(), hangUpEvents | EPOLLOUT);
    return false;
}

// The central cannot be reached any more: it has gone, whatever bluetoothd
// says later. It is reported gone, unless that was said already, before the
// sender is told to try again, so the notification waits for whoever
// subscribes next. Its socket stays until it hangs up, which then says nothing.
bool NotifySubscriptions::unreachable(const std::string& device, const Uuid& characteristic) {
    const bool standing = book_.isSubscribed(device, characteristic);
    connectionQuestions_.erase(keyOf(device, characteristic));
    book_.forget(device, characteristic);
    queue_.post([this, device, characteristic, standing] {
        if (standing) listener_.unsubscribed(device, characteristic);
        listener_.readyToSend();
    });
    return false;
}

int NotifySubscriptions::onSocketEvent(sd_event_source*, int, std::uint32_t events, void* userdata) {
    auto& socket = *static_cast<Socket*>(userdata);
    NotifySubscriptions& owner = *socket.owner;
    if (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) {
        // Copies: hungUp destroys the socket.
        const std::string device = socket.device;
        const Uuid characteristic = socket.characteristic;
        owner.hungUp(device, characteristic);
        return 0;
    }
    if (events & EPOLLOUT) {
        sd_event_source_set_io_events(socket.watch.get(), hangUpEvents);
        owner.listener_.readyToSend();
    }
    return 0;
}

void NotifySubscriptions::hungUp(const std::string& device, const Uuid& characteristic) {
    const Key key = keyOf(device, characteristic);
    sockets_.erase(key);
    if (!book_.hungUp(device, characteristic)) return;
    // bluetoothd has handled the disconnection, if there is one, by the time
    // it answers: the hang-up came out of the same link loss.
    const int r = bluetoothd_.askWhetherConnected(
        device,
        [this, device, characteristic, key](const DeviceFacts& facts) {
            book_.connectionAnswered(device, characteristic, facts.connected, facts.bonded);
            // Last: this function lives in that slot.
            connectionQuestions_.erase(key);
        },
        connectionQuestions_[key]);
    if (r < 0) {
        diagnose_(failure("cannot ask bluetoothd whether " + device + " is connected", r));
        book_.forget(device, characteristic);
    }
    listener_.unsubscribed(device, characteristic);
}

void NotifySubscriptions::connectionChanged(const std::string& device, const DeviceFacts& facts) {
    if (facts.connected) {
        for (const Uuid& characteristic : book_.reconnected(device)) listener_.subscribed(device, characteristic);
        return;
    }
    for (const Uuid& characteristic : book_.disconnected(device, facts.bonded))
        listener_.unsubscribed(device, characteristic);
}

void NotifySubscriptions::deviceRemoved(const std::string& device) {
    const std::vector<Uuid> ended = book_.forget(device);
    forgetSockets(device);
    for (const Uuid& characteristic : ended) listener_.unsubscribed(device, characteristic);
}

void NotifySubscriptions::bluetoothdLeft() {
    const auto ended = book_.forgetAll();
    sockets_.clear();
    connectionQuestions_.clear();
    for (const auto& [device, characteristic] : ended) listener_.unsubscribed(device, characteristic);
}

void NotifySubscriptions::dropAll() {
    book_.forgetAll();
    sockets_.clear();
    connectionQuestions_.clear();
}

void NotifySubscriptions::forgetSockets(const std::string& device) {
    std::erase_if(sockets_, [&](const auto& entry) { return entry.first.first == device; });
    std::erase_if(connectionQuestions_, [&](const auto& entry) { return entry.first.first == device; });
}

}  // namespace orbilatch::bluetooth::bluez
