#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "system/FileDescriptor.h"

namespace orbilatch::presenter {

// The agent as this program's child, with a pipe on each of its three
// streams. It gets SIGTERM when this program dies, so an agent is never left
// advertising after its controller is gone.
class AgentProcess {
public:
    // Starts the program at path; throws std::system_error with the reason
    // when it cannot be started.
    explicit AgentProcess(const std::string& path);

    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    pid_t pid() const { return pid_; }
    int stdoutFd() const { return stdout_.get(); }
    int stderrFd() const { return stderr_.get(); }

    // Writes one line and its line feed; false when the agent is gone.
    bool send(std::string_view line);
    void kill();

private:
    pid_t pid_ = -1;
    system::FileDescriptor stdin_;
    system::FileDescriptor stdout_;
    system::FileDescriptor stderr_;
};

}  // namespace orbilatch::presenter
