#pragma once

#include <functional>
#include <string>
#include <vector>

#include "system/FileDescriptor.h"
#include "system/LineSplitter.h"
#include "system/SdPointers.h"

namespace orbilatch::presenter::impress {

// One stream connection on the loop: what is sent goes out in order, never
// blocking, and what arrives comes in as lines until the connection ends.
class RemoteConnection {
public:
    using Lines = std::function<void(std::vector<std::string>& lines)>;
    using Ended = std::function<void()>;

    // Takes a non-blocking socket whose connect may still be under way. ended
    // is called once, when the connect fails or the peer goes; it may destroy
    // this connection.
    RemoteConnection(sd_event* event, system::FileDescriptor socket, Lines lines, Ended ended);

    RemoteConnection(const RemoteConnection&) = delete;
    RemoteConnection& operator=(const RemoteConnection&) = delete;

    void send(std::string_view bytes);

private:
    static int onEvent(sd_event_source* source, int fd, uint32_t revents, void* self);

    bool connect();
    void flush();
    void end();

    system::FileDescriptor socket_;
    system::SdEventSourcePtr source_;
    system::LineSplitter splitter_;
    std::string unsent_;
    bool connected_ = false;
    Lines lines_;
    Ended ended_;
};

}  // namespace orbilatch::presenter::impress
